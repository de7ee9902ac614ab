#include "platform/x11/X11PasteboardMimeMapping.h"
#include "platform/TypeIdentifier.h"

#include <gtest/gtest.h>

using namespace snipjar;
using Mapping = X11PasteboardMimeMapping;

namespace {

QByteArray servedBytes(const QList<Mapping::ServedTarget>& served, const QByteArray& target) {
    for (const Mapping::ServedTarget& entry : served) {
        if (entry.target == target) {
            return entry.data;
        }
    }
    return "<absent>";
}

QByteArrayList servedNames(const QList<Mapping::ServedTarget>& served) {
    QByteArrayList names;
    for (const Mapping::ServedTarget& entry : served) {
        names << entry.target;
    }
    return names;
}

// The hint conceals only with "secret", tolerating trailing white space and NULs.
TEST(X11PasteboardMimeMappingTest, SecretHint) {
    EXPECT_TRUE(Mapping::isSecretHint("secret"));
    EXPECT_TRUE(Mapping::isSecretHint("secret\n"));
    EXPECT_TRUE(Mapping::isSecretHint(QByteArray("secret \0\0", 9)));
    EXPECT_FALSE(Mapping::isSecretHint("public"));
    EXPECT_FALSE(Mapping::isSecretHint(" secret"));
    EXPECT_FALSE(Mapping::isSecretHint("secrets"));
    EXPECT_FALSE(Mapping::isSecretHint(""));
}

// Pseudo-targets carry no content; unknown targets keep their names.
TEST(X11PasteboardMimeMappingTest, TargetIdentifiers) {
    for (const char* pseudo :
         {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS", "application/x-qt-image", "DELETE", "INCR"}) {
        EXPECT_FALSE(Mapping::identifierForTarget(pseudo)) << pseudo;
    }
    EXPECT_EQ(Mapping::identifierForTarget("UTF8_STRING"), QString::fromLatin1(TypeIdentifier::plainText));
    EXPECT_EQ(Mapping::identifierForTarget("text/plain;charset=UTF-8"),
              QString::fromLatin1(TypeIdentifier::plainText));
    EXPECT_EQ(Mapping::identifierForTarget("application/rtf"), QString::fromLatin1(TypeIdentifier::rtf));
    EXPECT_EQ(Mapping::identifierForTarget("image/heif"), QString::fromLatin1(TypeIdentifier::heic));
    EXPECT_EQ(Mapping::identifierForTarget("image/webp"), QStringLiteral("public.webp"));
    EXPECT_EQ(Mapping::identifierForTarget("chromium/x-web-custom-data"),
              QStringLiteral("chromium/x-web-custom-data"));
    EXPECT_EQ(Mapping::identifierForTarget("x-kde-passwordManagerHint"),
              QStringLiteral("x-kde-passwordManagerHint"));
}

// Reading prefers the table's targets in table order, then other offered targets of the identifier.
TEST(X11PasteboardMimeMappingTest, TargetsForReading) {
    const QByteArrayList offered = {"STRING", "text/plain", "UTF8_STRING", "text/plain;charset=UTF-8",
                                    "TEXT"};
    EXPECT_EQ(Mapping::targetsForIdentifier(QString::fromLatin1(TypeIdentifier::plainText), offered),
              (QByteArrayList{"text/plain;charset=UTF-8", "UTF8_STRING", "text/plain", "STRING", "TEXT"}));
    EXPECT_EQ(Mapping::targetsForIdentifier(QString::fromLatin1(TypeIdentifier::rtf),
                                            {"application/rtf", "text/rtf"}),
              (QByteArrayList{"text/rtf", "application/rtf"}));
    EXPECT_EQ(
        Mapping::targetsForIdentifier(QStringLiteral("application/x-custom"), {"a", "application/x-custom"}),
        QByteArrayList{"application/x-custom"});
    EXPECT_TRUE(
        Mapping::targetsForIdentifier(QString::fromLatin1(TypeIdentifier::png), {"image/jpeg"}).isEmpty());
}

// Text decodes by the target's encoding; text/plain without a charset falls back to Latin-1 when
// it is not UTF-8; trailing NULs go.
TEST(X11PasteboardMimeMappingTest, DecodesText) {
    EXPECT_EQ(Mapping::decodeText("UTF8_STRING", "gr\xc3\xbc\xc3\x9f"), QStringLiteral("grüß"));
    EXPECT_EQ(Mapping::decodeText("STRING", "gr\xfc\xdf"), QStringLiteral("grüß"));
    EXPECT_EQ(Mapping::decodeText("text/plain", "gr\xfc\xdf"), QStringLiteral("grüß"));
    EXPECT_EQ(Mapping::decodeText("text/plain", "gr\xc3\xbc\xc3\x9f"), QStringLiteral("grüß"));
    EXPECT_EQ(Mapping::decodeText("text/plain;charset=ISO-8859-1", "gr\xc3\xbc"), QStringLiteral("grÃ¼"));
    const QString utf16 = QStringLiteral("€5");
    EXPECT_EQ(Mapping::decodeText("text/plain;charset=utf-16le",
                                  QByteArray(reinterpret_cast<const char*>(utf16.utf16()), utf16.size() * 2)),
              utf16);
    EXPECT_EQ(Mapping::decodeText("UTF8_STRING", QByteArray("hi\0", 3)), QStringLiteral("hi"));
}

// URI lists skip comments, blank lines and entries with a control character (a NUL would cut a
// path short) and normalise file URLs; the Mozilla URL is its first line.
TEST(X11PasteboardMimeMappingTest, ParsesURLLists) {
    EXPECT_EQ(Mapping::parseURIList(QByteArrayLiteral(
                  "#c\r\nfile:/tmp/a\r\nfile:///etc/passwd\0.txt\r\n\r\nhttp://x.org/\nFILE:///tmp/b\n")),
              (QStringList{QStringLiteral("file:///tmp/a"), QStringLiteral("http://x.org/"),
                           QStringLiteral("file:///tmp/b")}));
    EXPECT_EQ(Mapping::parseGnomeCopiedFiles("cut\nfile:///tmp/a\nfile:///tmp/b"),
              (QStringList{QStringLiteral("file:///tmp/a"), QStringLiteral("file:///tmp/b")}));
    EXPECT_EQ(Mapping::parseMozURL("https://a.example/\nTitle"), QStringLiteral("https://a.example/"));
    const QString moz = QStringLiteral("https://b.example/p?q=1\r\nTitle");
    const QByteArray utf16(reinterpret_cast<const char*>(moz.utf16()), moz.size() * 2);
    EXPECT_EQ(Mapping::parseMozURL(utf16), QStringLiteral("https://b.example/p?q=1"));
    EXPECT_EQ(Mapping::parseMozURL("\xff\xfe" + utf16), QStringLiteral("https://b.example/p?q=1"));
    EXPECT_FALSE(Mapping::parseMozURL(""));
}

// A write offers every MIME target of each entry: plain text in all encodings, files also for
// file managers and as paths, the concealed marker as the KDE hint "secret".
TEST(X11PasteboardMimeMappingTest, ServedTargets) {
    const auto text =
        Mapping::servedTargets({{{QString::fromLatin1(TypeIdentifier::plainText), "caf\xc3\xa9"},
                                 {QString::fromLatin1(TypeIdentifier::rtf), "{\\rtf1}"},
                                 {QString::fromLatin1(TypeIdentifier::concealedMarker), {}}}});
    EXPECT_EQ(
        servedNames(text),
        (QByteArrayList{"UTF8_STRING", "text/plain;charset=utf-8", "text/plain", "STRING", "TEXT", "text/rtf",
                        "application/rtf", "x-kde-passwordManagerHint",
                        "application/x-nspasteboard-concealed-type", "org.nspasteboard.ConcealedType"}));
    EXPECT_EQ(servedBytes(text, "STRING"), QByteArray("caf\xe9"));
    EXPECT_EQ(servedBytes(text, "x-kde-passwordManagerHint"), QByteArray("secret"));

    const auto files = Mapping::servedTargets(
        {{{QString::fromLatin1(TypeIdentifier::fileURL), "file:///tmp/a\r\nfile:///tmp/b%20c"}}});
    EXPECT_EQ(servedBytes(files, "text/uri-list"), QByteArray("file:///tmp/a\r\nfile:///tmp/b%20c\r\n"));
    EXPECT_EQ(servedBytes(files, "x-special/gnome-copied-files"),
              QByteArray("copy\nfile:///tmp/a\nfile:///tmp/b%20c"));
    EXPECT_EQ(servedBytes(files, "UTF8_STRING"), QByteArray("/tmp/a\n/tmp/b c"));

    const auto image = Mapping::servedTargets(
        {{{QStringLiteral("public.webp"), "RIFF"}, {QStringLiteral("application/x-custom"), "x"}}});
    EXPECT_EQ(servedNames(image), (QByteArrayList{"image/webp", "application/x-custom"}));
}

} // namespace
