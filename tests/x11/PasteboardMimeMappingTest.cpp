#include "platform/PasteboardMimeMapping.h"
#include "platform/TypeIdentifier.h"

#include <gtest/gtest.h>

using namespace snipjar;
using Mapping = PasteboardMimeMapping;

namespace {

QString id(const char* identifier) {
    return QString::fromLatin1(identifier);
}

QByteArray utf16(const QString& text) {
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

// The edges of the reading rules beyond what X11PasteboardTest offers through a real owner: the
// hint conceals only with "secret" (trailing white space and NULs allowed); pseudo-targets carry
// no content and unknown targets keep their names; reading prefers the table's targets in table
// order; text/plain without a charset falls back to Latin-1 when it is not UTF-8; file lists skip
// comments and normalise file URLs; the Mozilla URL is its first line, with or without a BOM.
TEST(PasteboardMimeMappingTest, ReadingRules) {
    for (const auto& [hint, secret] : {std::pair<QByteArray, bool>{"secret", true},
                                       {"secret\n", true},
                                       {QByteArray("secret \0\0", 9), true},
                                       {"public", false},
                                       {" secret", false},
                                       {"secrets", false},
                                       {"", false}}) {
        EXPECT_EQ(Mapping::isSecretHint(hint), secret) << hint.constData();
    }
    for (const char* pseudo :
         {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS", "application/x-qt-image", "DELETE", "INCR"}) {
        EXPECT_FALSE(Mapping::identifierForTarget(pseudo)) << pseudo;
    }
    for (const auto& [target, identifier] :
         {std::pair<const char*, QString>{"UTF8_STRING", id(TypeIdentifier::plainText)},
          {"text/plain;charset=UTF-8", id(TypeIdentifier::plainText)},
          {"application/rtf", id(TypeIdentifier::rtf)},
          {"image/heif", id(TypeIdentifier::heic)},
          {"image/webp", "public.webp"},
          {"chromium/x-web-custom-data", "chromium/x-web-custom-data"},
          {"x-kde-passwordManagerHint", "x-kde-passwordManagerHint"}}) {
        EXPECT_EQ(Mapping::identifierForTarget(target), identifier) << target;
    }

    EXPECT_EQ(
        Mapping::targetsForIdentifier(id(TypeIdentifier::plainText), {"STRING", "text/plain", "UTF8_STRING",
                                                                      "text/plain;charset=UTF-8", "TEXT"}),
        (QByteArrayList{"text/plain;charset=UTF-8", "UTF8_STRING", "text/plain", "STRING", "TEXT"}));
    EXPECT_EQ(Mapping::targetsForIdentifier(id(TypeIdentifier::rtf), {"application/rtf", "text/rtf"}),
              (QByteArrayList{"text/rtf", "application/rtf"}));
    EXPECT_EQ(Mapping::targetsForIdentifier("application/x-custom", {"a", "application/x-custom"}),
              QByteArrayList{"application/x-custom"});
    EXPECT_TRUE(Mapping::targetsForIdentifier(id(TypeIdentifier::png), {"image/jpeg"}).isEmpty());

    for (const auto& [target, bytes, text] :
         {std::tuple<QByteArray, QByteArray, QString>{"UTF8_STRING", "gr\xc3\xbc\xc3\x9f", "grüß"},
          {"STRING", "gr\xfc\xdf", "grüß"},
          {"text/plain", "gr\xfc\xdf", "grüß"},
          {"text/plain", "gr\xc3\xbc\xc3\x9f", "grüß"},
          {"text/plain;charset=ISO-8859-1", "gr\xc3\xbc", "grÃ¼"},
          {"text/plain;charset=utf-16le", utf16("€5"), "€5"},
          {"UTF8_STRING", QByteArray("hi\0", 3), "hi"}}) {
        EXPECT_EQ(Mapping::decodeText(target, bytes), text) << target.constData();
    }

    EXPECT_EQ(Mapping::parseURIList(QByteArrayLiteral(
                  "#c\r\nfile:/tmp/a\r\nfile:///etc/passwd\0.txt\r\n\r\nhttp://x.org/\nFILE:///tmp/b\n")),
              (QStringList{"file:///tmp/a", "http://x.org/", "file:///tmp/b"}));
    EXPECT_EQ(Mapping::parseGnomeCopiedFiles("cut\nfile:///tmp/a\nfile:///tmp/b"),
              (QStringList{"file:///tmp/a", "file:///tmp/b"}));
    const QByteArray moz = utf16("https://b.example/p?q=1\r\nTitle");
    for (const QByteArray& bytes : {QByteArray("https://b.example/p?q=1\nTitle"), moz, "\xff\xfe" + moz}) {
        EXPECT_EQ(Mapping::parseMozURL(bytes), QStringLiteral("https://b.example/p?q=1"));
    }
    EXPECT_FALSE(Mapping::parseMozURL(""));
}

// A write offers every MIME target of each entry in this order (X11PasteboardTest reads the values
// back through xclip): plain text in all encodings, the concealed marker as the KDE hint and the
// pasteboard markers, images and other types under their MIME names.
TEST(PasteboardMimeMappingTest, ServedTargetOrder) {
    const auto names = [](const PasteboardContent& content) {
        QByteArrayList result;
        for (const Mapping::ServedTarget& entry : Mapping::servedTargets(content)) {
            result << entry.target;
        }
        return result;
    };
    EXPECT_EQ(
        names({{{id(TypeIdentifier::plainText), "caf\xc3\xa9"},
                {id(TypeIdentifier::rtf), "{\\rtf1}"},
                {id(TypeIdentifier::concealedMarker), {}}}}),
        (QByteArrayList{"UTF8_STRING", "text/plain;charset=utf-8", "text/plain", "STRING", "TEXT", "text/rtf",
                        "application/rtf", "x-kde-passwordManagerHint",
                        "application/x-nspasteboard-concealed-type", "org.nspasteboard.ConcealedType"}));
    EXPECT_EQ(names({{{"public.webp", "RIFF"}, {"application/x-custom", "x"}}}),
              (QByteArrayList{"image/webp", "application/x-custom"}));
}

} // namespace
