#include "model/Clip.h"
#include "model/ClipRecords.h"
#include "model/ImageMetadata.h"

#include <gtest/gtest.h>

using namespace snipjar;

namespace {

Clip clipOf(Clip::Kind kind, std::optional<QString> text = std::nullopt) {
    Clip clip;
    clip.kind = kind;
    clip.plainText = std::move(text);
    return clip;
}

Clip imageClip(QByteArray bytes, const QString& uti) {
    Clip clip = clipOf(Clip::Kind::image);
    clip.imageData = std::move(bytes);
    clip.dataUTI = uti;
    return clip;
}

Clip filesClip(QStringList urls) {
    Clip clip = clipOf(Clip::Kind::file);
    clip.fileURLs = std::move(urls);
    return clip;
}

} // namespace

// The key is a kind prefix and the lowercase SHA-256 of the content exactly as captured, so every
// computer keys one content alike.
TEST(ClipDedupKey, SameContentSameKeyOnEveryComputer) {
    const Clip plain = clipOf(Clip::Kind::text, QStringLiteral("hello"));
    EXPECT_EQ(plain.dedupKey(),
              QStringLiteral("t:2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824"));
    EXPECT_NE(clipOf(Clip::Kind::text, QStringLiteral("Hello")).dedupKey(), plain.dedupKey());
    EXPECT_NE(clipOf(Clip::Kind::text, QStringLiteral("hello ")).dedupKey(), plain.dedupKey());
    EXPECT_EQ(imageClip("hello", QStringLiteral("public.png")).dedupKey(),
              QStringLiteral("i:") + plain.dedupKey().mid(2));
    EXPECT_NE(filesClip({QStringLiteral("file:///a"), QStringLiteral("file:///b")}).dedupKey(),
              filesClip({QStringLiteral("file:///b"), QStringLiteral("file:///a")}).dedupKey());
}

// Byte size adds the UTF-8 text, RTF, image bytes and the UTF-8 file URLs.
TEST(ClipByteSize, CountsUtf8AndEveryPayload) {
    Clip clip = clipOf(Clip::Kind::text, QStringLiteral("h\u00E9\u20AC\U0001F600")); // 1 + 2 + 3 + 4 bytes
    EXPECT_EQ(clip.byteSize(), 10);
    clip.richTextData = QByteArray(5, 'r');
    clip.imageData = QByteArray(7, 'i');
    clip.fileURLs = {QStringLiteral("file:///\u00E9")};
    EXPECT_EQ(clip.byteSize(), 10 + 5 + 7 + 10);
}

// Titles per kind; the item cuts them at 5000 user-perceived characters.
TEST(ClipTitle, PerKindAndCutAtWholeCharacters) {
    EXPECT_EQ(
        filesClip({QStringLiteral("file:///home/u/Report.pdf"), QStringLiteral("file:///home/u/Notes.txt")})
            .title(),
        QStringLiteral("Report.pdf, Notes.txt"));
    EXPECT_EQ(filesClip({}).title(), QStringLiteral("File"));
    EXPECT_EQ(Clip().title(), QStringLiteral("Clip"));

    const auto titleOf = [](const QString& text) {
        return ClipItem::fromClip(clipOf(Clip::Kind::text, text), std::nullopt, QString()).title;
    };
    // An emoji with a skin-tone modifier is one character of four UTF-16 code units.
    const QString emoji = QStringLiteral("\U0001F44D\U0001F3FD");
    EXPECT_EQ(titleOf(emoji.repeated(5001)), emoji.repeated(5000));
    EXPECT_TRUE(Clip::exceedsCharacters(emoji.repeated(5001), 5000));
}

// Local-only: concealed always; transcodable images never; otherwise the size limits, inclusive.
TEST(ClipLocalOnly, RulesInOrder) {
    EXPECT_FALSE(imageClip(QByteArray(30'000'001, 'p'), QStringLiteral("public.png")).isLocalOnly());
    EXPECT_TRUE(imageClip(QByteArray(30'000'001, 'g'), QStringLiteral("com.compuserve.gif")).isLocalOnly());
    EXPECT_FALSE(imageClip(QByteArray(30'000'000, 'g'), QStringLiteral("com.compuserve.gif")).isLocalOnly());
    EXPECT_FALSE(clipOf(Clip::Kind::text, QString(1'000'000, QLatin1Char('a'))).isLocalOnly());
    Clip concealed = clipOf(Clip::Kind::text, QStringLiteral("secret"));
    concealed.concealed = true;
    EXPECT_TRUE(concealed.isLocalOnly());

    EXPECT_TRUE(clipOf(Clip::Kind::image).isTranscodableImageType());
    for (const char* kept : {"com.compuserve.gif", "com.adobe.pdf", "public.svg-image"}) {
        EXPECT_FALSE(imageClip({}, QString::fromLatin1(kept)).isTranscodableImageType()) << kept;
    }
}

// The image title names, in order, the image's name (else its caption, cut to 120 characters), the
// source's file name unless equal to it, host, format and size, application, credit, camera, date
// and keywords. A root path gives no file name, and no parts give none.
TEST(ImageTitle, PartRules) {
    Clip clip = imageClip("x", QStringLiteral("public.jpeg"));
    clip.sourceURLString = QStringLiteral("https://example.org/photos/harbour.jpg?size=large");
    clip.sourceName = QStringLiteral("Preview");
    ImageMetadata metadata;
    metadata.name = QStringLiteral("harbour.jpg");
    metadata.caption = QStringLiteral("Harbour at dusk");
    metadata.width = 4032.9;
    metadata.height = 3024;
    metadata.credit = QStringLiteral("Jane");
    metadata.camera = QStringLiteral("Canon EOS R5");
    metadata.captured = QStringLiteral("2024-05-01");
    metadata.keywords = {QStringLiteral("sea"), QStringLiteral("boats")};
    EXPECT_EQ(
        imageTitle(clip, metadata),
        QStringLiteral("harbour.jpg \u00B7 example.org \u00B7 JPEG 4032\u00D73024 \u00B7 Preview \u00B7 Jane "
                       "\u00B7 Canon EOS R5 \u00B7 2024-05-01 \u00B7 sea, boats"));
    metadata.name.reset();
    EXPECT_TRUE(
        imageTitle(clip, metadata)->startsWith(QStringLiteral("Harbour at dusk \u00B7 harbour.jpg \u00B7 ")));
    metadata.name = QString(200, QLatin1Char('n'));
    EXPECT_TRUE(
        imageTitle(clip, metadata)->startsWith(QString(120, QLatin1Char('n')) + QStringLiteral(" \u00B7 ")));

    Clip png = imageClip("x", QStringLiteral("public.png"));
    png.sourceURLString = QStringLiteral("https://example.org/");
    EXPECT_EQ(imageTitle(png, std::nullopt), QStringLiteral("example.org \u00B7 PNG"));
    Clip bare = clipOf(Clip::Kind::image);
    bare.dataUTI = QStringLiteral("com.example.unknown");
    EXPECT_EQ(imageTitle(bare, ImageMetadata{}), std::nullopt);
}
