#include "model/Clip.h"
#include "model/ClipRecords.h"
#include "model/ImageMetadata.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace snipjar;

namespace {

Clip textClip(const QString& text, Clip::Kind kind = Clip::Kind::text) {
    Clip clip;
    clip.kind = kind;
    clip.plainText = text;
    return clip;
}

Clip imageClip(QByteArray bytes, const QString& uti) {
    Clip clip;
    clip.kind = Clip::Kind::image;
    clip.imageData = std::move(bytes);
    clip.dataUTI = uti;
    return clip;
}

} // namespace

// The key is a kind prefix and the lowercase SHA-256 of the content, hashed exactly as captured.
TEST(ClipDedupKey, PrefixAndDigestPerKind) {
    const Clip plain = textClip(QStringLiteral("hello"));
    Clip rich = textClip(QStringLiteral("hello"), Clip::Kind::richText);
    rich.richTextData = QByteArray("{\\rtf1 hello}");
    EXPECT_EQ(plain.dedupKey(), rich.dedupKey());
    EXPECT_EQ(plain.dedupKey(),
              QStringLiteral("t:2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^t:[0-9a-f]{64}$"))
                    .match(textClip(QString()).dedupKey())
                    .hasMatch());

    EXPECT_NE(textClip(QStringLiteral("Hello")).dedupKey(), plain.dedupKey());
    EXPECT_NE(textClip(QStringLiteral("hello ")).dedupKey(), plain.dedupKey());

    EXPECT_TRUE(imageClip(QByteArray("abc"), QStringLiteral("public.png"))
                    .dedupKey()
                    .startsWith(QStringLiteral("i:ba7816bf")));
    Clip files;
    files.kind = Clip::Kind::file;
    files.fileURLs = {QStringLiteral("file:///a"), QStringLiteral("file:///b")};
    EXPECT_EQ(files.dedupKey(),
              QStringLiteral("f:") +
                  QString::fromLatin1(
                      QCryptographicHash::hash("file:///a\nfile:///b", QCryptographicHash::Sha256).toHex()));
    Clip unknown;
    EXPECT_TRUE(unknown.dedupKey().startsWith(QStringLiteral("u:e3b0c442")));
}

// Byte size adds the UTF-8 text, RTF, image bytes and the UTF-8 file URLs.
TEST(ClipByteSize, CountsUtf8AndEveryPayload) {
    Clip clip = textClip(QStringLiteral("h\u00E9\u20AC\U0001F600")); // 1 + 2 + 3 + 4 bytes
    EXPECT_EQ(clip.byteSize(), 10);
    clip.richTextData = QByteArray(5, 'r');
    clip.imageData = QByteArray(7, 'i');
    clip.fileURLs = {QStringLiteral("file:///\u00E9")};
    EXPECT_EQ(clip.byteSize(), 10 + 5 + 7 + 10);
    EXPECT_EQ(Clip().byteSize(), 0);
}

// Titles per kind, and the 5000-character cut counts user-perceived characters.
TEST(ClipTitle, PerKindAndCut) {
    Clip files;
    files.kind = Clip::Kind::file;
    files.fileURLs = {QStringLiteral("file:///home/u/Report.pdf"),
                      QStringLiteral("file:///home/u/Notes.txt")};
    EXPECT_EQ(files.title(), QStringLiteral("Report.pdf, Notes.txt"));
    const ClipItem fileItem = ClipItem::fromClip(files, std::nullopt, QStringLiteral("DEV"));
    EXPECT_EQ(fileItem.fileURLsJoined, QStringLiteral("file:///home/u/Report.pdf\nfile:///home/u/Notes.txt"));
    EXPECT_EQ(fileItem.fileURLs(), files.fileURLs);
    files.fileURLs.clear();
    EXPECT_EQ(files.title(), QStringLiteral("File"));
    EXPECT_FALSE(ClipItem::fromClip(files, std::nullopt, QString()).fileURLsJoined.has_value());

    Clip unknown;
    EXPECT_EQ(unknown.title(), QStringLiteral("Clip"));
    Clip emptyText;
    emptyText.kind = Clip::Kind::text;
    EXPECT_EQ(emptyText.title(), QString());
    EXPECT_EQ(imageClip(QByteArray("x"), QStringLiteral("public.png")).title(), QStringLiteral("Image"));

    const ClipItem long6000 =
        ClipItem::fromClip(textClip(QString(6000, QLatin1Char('a'))), std::nullopt, QString());
    EXPECT_EQ(long6000.title.size(), 5000);

    // An emoji with a skin-tone modifier is one character of four UTF-16 code units.
    const QString emoji = QStringLiteral("\U0001F44D\U0001F3FD");
    QString emojis;
    for (int i = 0; i < 5001; ++i) {
        emojis += emoji;
    }
    const ClipItem emojiItem = ClipItem::fromClip(textClip(emojis), std::nullopt, QString());
    EXPECT_EQ(emojiItem.title.size(), 5000 * emoji.size());
    EXPECT_EQ(Clip::characterCount(emojiItem.title), 5000);
    EXPECT_TRUE(Clip::exceedsCharacters(emojis, 5000));
    EXPECT_FALSE(Clip::exceedsCharacters(emojiItem.title, 5000));
    EXPECT_FALSE(Clip::exceedsCharacters(QString(5000, QLatin1Char('a')), 5000));
    EXPECT_TRUE(Clip::exceedsCharacters(QString(5001, QLatin1Char('a')), 5000));
}

// Local-only: concealed and files always; transcodable images never; otherwise the size limits.
TEST(ClipLocalOnly, RulesInOrder) {
    EXPECT_FALSE(imageClip(QByteArray(30'000'001, 'p'), QStringLiteral("public.png")).isLocalOnly());
    EXPECT_TRUE(imageClip(QByteArray(30'000'001, 'g'), QStringLiteral("com.compuserve.gif")).isLocalOnly());
    EXPECT_FALSE(imageClip(QByteArray(30'000'000, 'g'), QStringLiteral("com.compuserve.gif")).isLocalOnly());
    EXPECT_TRUE(textClip(QString(1'000'001, QLatin1Char('a'))).isLocalOnly());
    EXPECT_FALSE(textClip(QString(1'000'000, QLatin1Char('a'))).isLocalOnly());
    Clip concealed = textClip(QStringLiteral("secret"));
    concealed.concealed = true;
    EXPECT_TRUE(concealed.isLocalOnly());
    Clip file;
    file.kind = Clip::Kind::file;
    EXPECT_TRUE(file.isLocalOnly());

    Clip noType;
    noType.kind = Clip::Kind::image;
    EXPECT_TRUE(noType.isTranscodableImageType());
    for (const char* kept : {"com.compuserve.gif", "com.adobe.pdf", "public.svg-image"}) {
        EXPECT_FALSE(imageClip({}, QString::fromLatin1(kept)).isTranscodableImageType()) << kept;
    }
}

// Stored kind strings read back exactly; anything else is unknown.
TEST(ClipKindRaw, RoundTripAndUnknown) {
    for (auto kind :
         {ClipKind::text, ClipKind::richText, ClipKind::image, ClipKind::file, ClipKind::unknown}) {
        EXPECT_EQ(clipKindFromRaw(clipKindRaw(kind)), kind);
    }
    EXPECT_EQ(clipKindFromRaw(QStringLiteral("RichText")), ClipKind::unknown);
    EXPECT_EQ(clipKindFromRaw(QString()), ClipKind::unknown);
}

// The image title joins its parts in a fixed order with " · ".
TEST(ImageTitle, PartsInOrder) {
    Clip clip = imageClip(QByteArray("x"), QStringLiteral("public.jpeg"));
    clip.sourceURLString = QStringLiteral("https://example.org/photos/harbour.jpg?size=large");
    clip.sourceName = QStringLiteral("Preview");
    ImageMetadata metadata;
    metadata.caption = QStringLiteral("Harbour at dusk");
    metadata.width = 4032.9;
    metadata.height = 3024;
    metadata.camera = QStringLiteral("Canon EOS R5");
    metadata.captured = QStringLiteral("2024-05-01");
    EXPECT_EQ(imageTitle(clip, metadata),
              QStringLiteral(
                  "Harbour at dusk \u00B7 harbour.jpg \u00B7 example.org \u00B7 JPEG 4032\u00D73024 \u00B7 "
                  "Preview \u00B7 Canon EOS R5 \u00B7 2024-05-01"));

    // The name wins over the caption, is cut to 120 characters, and a file name equal to it is dropped.
    metadata.name = QStringLiteral("harbour.jpg");
    metadata.credit = QStringLiteral("Jane");
    metadata.keywords = {QStringLiteral("sea"), QStringLiteral("boats")};
    clip.sourceName.reset();
    EXPECT_EQ(imageTitle(clip, metadata),
              QStringLiteral("harbour.jpg \u00B7 example.org \u00B7 JPEG 4032\u00D73024 "
                             "\u00B7 Jane \u00B7 Canon EOS R5 \u00B7 2024-05-01 \u00B7 sea, boats"));
    metadata.name = QString(200, QLatin1Char('n'));
    EXPECT_TRUE(
        imageTitle(clip, metadata)->startsWith(QString(120, QLatin1Char('n')) + QStringLiteral(" \u00B7 ")));

    // Without metadata the type alone makes a title; a root path gives no file name.
    Clip png = imageClip(QByteArray("x"), QStringLiteral("public.png"));
    EXPECT_EQ(imageTitle(png, std::nullopt), QStringLiteral("PNG"));
    png.sourceURLString = QStringLiteral("https://example.org/");
    EXPECT_EQ(imageTitle(png, std::nullopt), QStringLiteral("example.org \u00B7 PNG"));

    Clip bare;
    bare.kind = Clip::Kind::image;
    bare.dataUTI = QStringLiteral("com.example.unknown");
    EXPECT_EQ(imageTitle(bare, std::nullopt), std::nullopt);
    EXPECT_EQ(imageTitle(bare, ImageMetadata{}), std::nullopt);
}
