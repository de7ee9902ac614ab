#include "RtfTestSupport.h"

#include <QColor>
#include <QFont>

namespace snipjar::test {
namespace {

QString textOf(const char* rtf) {
    return plainText(readRtf(QByteArray(rtf)));
}

// Only bytes that open an RTF group are RTF; everything else gives no document at all.
TEST(RtfReaderTest, OnlyRtfIsRead) {
    EXPECT_FALSE(readRtf(QByteArray()));
    EXPECT_FALSE(readRtf("plain text"));
    EXPECT_FALSE(readRtf("<html><body>{\\rtf1 x}</body></html>"));
    EXPECT_FALSE(readRtf(QByteArray("\0{\\rtf1 x}", 10)));

    const auto empty = readRtf("{\\rtf1}");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->isEmpty());
    EXPECT_EQ(textOf("\r\n  {\\rtf1\\ansi hello}"), "hello");
    // Whatever follows the document's closing brace is not part of it.
    EXPECT_EQ(textOf("{\\rtf1 inside}outside"), "inside");
}

// A LibreOffice Writer selection: paragraphs, styled runs, colours, sizes, a centred paragraph and
// Unicode with code-page fallbacks; nothing from the style sheet, page styles or metadata shows.
TEST(RtfReaderTest, LibreOfficeSelection) {
    const auto document = readRtf(rtfFixture("libreoffice-writer.rtf"));
    ASSERT_TRUE(document);
    EXPECT_EQ(plainText(*document), QStringLiteral("Shopping list\n"
                                                   "Buy bread, cheese and olives; not wine.\n"
                                                   "Red and large blue marked\n"
                                                   "Café naïve — 你好 code\u2028second line"));

    EXPECT_EQ(formatOf(*document, "Shopping")->fontWeight(), QFont::Bold);
    EXPECT_EQ(formatOf(*document, "Shopping")->fontFamilies().toStringList(), QStringList{"Liberation Sans"});
    EXPECT_EQ(formatOf(*document, "Buy")->fontFamilies().toStringList(), QStringList{"Liberation Serif"});
    EXPECT_EQ(formatOf(*document, "code")->fontStyleHint(), QFont::TypeWriter);

    EXPECT_EQ(formatOf(*document, "Red")->foreground().color(), QColor(201, 33, 30));
    EXPECT_EQ(formatOf(*document, "large blue")->foreground().color(), QColor(42, 96, 153));
    EXPECT_EQ(formatOf(*document, "large blue")->fontPointSize(), 18);
    EXPECT_EQ(formatOf(*document, "marked")->background().color(), QColor(255, 255, 0));

    EXPECT_EQ(document->find("Red").block().blockFormat().alignment(), Qt::AlignHCenter);
    // The closing \par of the last paragraph opens no empty one.
    EXPECT_EQ(document->blockCount(), 4);
}

// A word processor's clipboard: code page 1252 punctuation, Cyrillic and Japanese fonts with their
// own charsets, a hyperlink field, Unicode beyond 32767 and surrogate pairs; headers, pictures,
// bookmarks, theme data and document properties stay out.
TEST(RtfReaderTest, WordProcessorDocument) {
    const auto document = readRtf(rtfFixture("word-processor.rtf"));
    ASSERT_TRUE(document);
    EXPECT_EQ(plainText(*document),
              QStringLiteral(
                  "Quarterly report: draft, see the figures \u201Cquoted\u201D \u2013 50\u20AC\u00A0net\n"
                  "Привет こんにちは \uFB01\U0001F600"));

    // The field shows its result, styled, and never its instruction.
    EXPECT_TRUE(formatOf(*document, "the figures")->fontUnderline());
    EXPECT_EQ(formatOf(*document, "the figures")->foreground().color(), QColor(0, 0, 255));
    EXPECT_FALSE(plainText(*document).contains("HYPERLINK"));

    EXPECT_EQ(formatOf(*document, "Привет")->fontFamilies().toStringList(), QStringList{"Arial Cyr"});
    EXPECT_EQ(formatOf(*document, "こんにちは")->fontFamilies().toStringList(), QStringList{"MS Mincho"});
    EXPECT_EQ(document->find("Привет").block().blockFormat().alignment(), Qt::AlignRight);
}

// A font table written without a group per font, backslash-newline paragraph ends and \uc0.
TEST(RtfReaderTest, FontTableWithoutEntryGroups) {
    const auto document = readRtf(rtfFixture("cocoa-style.rtf"));
    ASSERT_TRUE(document);
    EXPECT_EQ(plainText(*document), QStringLiteral("Plain text, then bold, then mono\ttabbed\n"
                                                   "green on a new line\n"
                                                   "\u201CSmart quotes\u201D and \u2026"));
    EXPECT_EQ(formatOf(*document, "bold")->fontFamilies().toStringList(), QStringList{"Helvetica-Bold"});
    EXPECT_EQ(formatOf(*document, "green")->foreground().color(), QColor(0, 128, 0));
    // \cf0 is the automatic colour.
    EXPECT_EQ(formatOf(*document, "Plain")->foreground().style(), Qt::NoBrush);
}

// Groups save and restore formatting; toggles switch off with a 0 parameter; \plain resets.
TEST(RtfReaderTest, FormattingIsScopedToGroups) {
    const auto document =
        readRtf(R"({\rtf1 a{\b b{\i c}d}e\b f\b0 g\ul h\ulnone i\ul j\ul0 k\strike l\strike0 m)"
                R"(\b\i\fs40 n\plain o{\super p}{\sub q}r\v hidden\v0 s})");
    ASSERT_TRUE(document);
    EXPECT_EQ(plainText(*document), "abcdefghijklmnopqrs");
    struct Expected {
        const char* text;
        bool bold, italic, underline, strikeOut;
    };
    for (const Expected& e :
         {Expected{"a", false, false, false, false}, Expected{"b", true, false, false, false},
          Expected{"c", true, true, false, false}, Expected{"d", true, false, false, false},
          Expected{"e", false, false, false, false}, Expected{"f", true, false, false, false},
          Expected{"g", false, false, false, false}, Expected{"h", false, false, true, false},
          Expected{"i", false, false, false, false}, Expected{"j", false, false, true, false},
          Expected{"k", false, false, false, false}, Expected{"l", false, false, false, true},
          Expected{"m", false, false, false, false}, Expected{"o", false, false, false, false}}) {
        SCOPED_TRACE(e.text);
        const QTextCharFormat format = *formatOf(*document, e.text);
        EXPECT_EQ(format.fontWeight() == QFont::Bold, e.bold);
        EXPECT_EQ(format.fontItalic(), e.italic);
        EXPECT_EQ(format.fontUnderline(), e.underline);
        EXPECT_EQ(format.fontStrikeOut(), e.strikeOut);
    }
    EXPECT_EQ(formatOf(*document, "n")->fontPointSize(), 20);
    EXPECT_FALSE(formatOf(*document, "o")->hasProperty(QTextFormat::FontPointSize));
    EXPECT_EQ(formatOf(*document, "p")->verticalAlignment(), QTextCharFormat::AlignSuperScript);
    EXPECT_EQ(formatOf(*document, "q")->verticalAlignment(), QTextCharFormat::AlignSubScript);
    EXPECT_EQ(formatOf(*document, "r")->verticalAlignment(), QTextCharFormat::AlignNormal);
}

// Escaped characters, characters written as words and the break words.
TEST(RtfReaderTest, EscapesAndSpecialCharacters) {
    EXPECT_EQ(textOf(R"({\rtf1 a\\b\{c\}d})"), "a\\b{c}d");
    EXPECT_EQ(textOf(R"({\rtf1 no\~break soft\-hyphen non\_breaking})"),
              QStringLiteral("no\u00A0break soft\u00ADhyphen non\u2011breaking"));
    EXPECT_EQ(textOf(R"({\rtf1 \emdash\endash\bullet\lquote\rquote\ldblquote\rdblquote})"),
              QStringLiteral("\u2014\u2013\u2022\u2018\u2019\u201C\u201D"));
    EXPECT_EQ(textOf(R"({\rtf1 a\tab b\line c\par d\par\par e})"), QStringLiteral("a\tb\u2028c\nd\n\ne"));
    // Source line breaks only wrap lines; the space after a word only ends it.
    EXPECT_EQ(textOf("{\\rtf1 one\r\ntwo \\b  three}"), "onetwo  three");
    EXPECT_EQ(textOf(R"({\rtf1 \trowd\cellx1000\cellx2000 A1\cell B1\cell\row A2\cell B2\cell\row})"),
              "A1\tB1\t\nA2\tB2\t");
}

// \uN is a UTF-16 unit, negative above 32767, followed by \ucN fallback characters (1 unless given,
// scoped to the group) that are dropped: a \'hh or a control word counts as one.
TEST(RtfReaderTest, UnicodeAndFallbackCharacters) {
    EXPECT_EQ(textOf(R"({\rtf1 \u233?t\u233\'e9})"), QStringLiteral("été"));
    EXPECT_EQ(textOf(R"({\rtf1\uc2 \u8364\'80\'80 net})"), QStringLiteral("€ net"));
    EXPECT_EQ(textOf(R"({\rtf1\uc2 \u8364 EUR})"), QStringLiteral("€R"));
    EXPECT_EQ(textOf(R"({\rtf1\uc0 \u8364 EUR})"), QStringLiteral("€EUR"));
    EXPECT_EQ(textOf(R"({\rtf1 {\uc3 \u8364 abc}\u8364 abc})"), QStringLiteral("€€bc"));
    EXPECT_EQ(textOf(R"({\rtf1 \u8364\emdash x})"), QStringLiteral("€x"));
    // The fallback never reaches into the next group.
    EXPECT_EQ(textOf(R"({\rtf1\uc4 \u8364{x}y})"), QStringLiteral("€xy"));
    EXPECT_EQ(textOf(R"({\rtf1 \u-4064?\u-10179?\u-8704?})"), QStringLiteral("\uF020\U0001F600"));
    // Surrogates that do not pair, control characters and values beyond 16 bits never reach the text.
    EXPECT_EQ(textOf(R"({\rtf1 a\u-10179?b\u-8704?c\u1?\u70000?d})"), QStringLiteral("a\uFFFDb\uFFFDcd"));
}

// \'hh bytes decode in the document's code page unless the current font's charset says otherwise;
// consecutive bytes form multi-byte characters.
TEST(RtfReaderTest, CodePages) {
    EXPECT_EQ(textOf(R"({\rtf1\ansi \'93x\'94 \'80 \'e9})"), QStringLiteral("“x” € é"));
    EXPECT_EQ(textOf(R"({\rtf1\ansi\ansicpg1251 \'cf\'f0\'e8})"), QStringLiteral("При"));
    EXPECT_EQ(textOf(R"({\rtf1\mac Caf\'8e})"), QStringLiteral("Café"));
    EXPECT_EQ(textOf(R"({\rtf1\ansi\ansicpg932 \'82\'a0\'82\'a2})"), QStringLiteral("あい"));
    // A trail byte written as a plain character still joins its lead byte.
    EXPECT_EQ(textOf(R"({\rtf1\ansi\ansicpg932 \'83T})"), QStringLiteral("サ"));
    EXPECT_EQ(textOf(R"({\rtf1\ansi\ansicpg936 \'c4\'e3\'ba\'c3})"), QStringLiteral("你好"));
    // A code page nothing here can decode reads as Latin-1.
    EXPECT_EQ(textOf(R"({\rtf1\ansi\ansicpg4242 \'e9\'80})"), QStringLiteral("é\u0080"));
    // Per-font charsets, with \deff choosing the font of plain text.
    EXPECT_EQ(
        textOf(R"({\rtf1\ansi\deff1{\fonttbl{\f0 Arial;}{\f1\fcharset204 Arial Cyr;}{\f2\fcharset161 Greek;})"
               R"(} \'cf {\f2\'e1} {\f0\'e9}})"),
        QStringLiteral(" П α é"));
    // A \cpg in the font table wins over its charset.
    EXPECT_EQ(textOf(R"({\rtf1{\fonttbl{\f0\fcharset0\cpg1251 X;}}\f0\'cf})"), QStringLiteral("П"));
}

// Font names decode in their font's charset; table entries and their subgroups never show as text.
TEST(RtfReaderTest, FontAndColorTables) {
    const auto document = readRtf(rtfFixture("word-processor.rtf"));
    ASSERT_TRUE(document);
    EXPECT_FALSE(plainText(*document).contains("Times"));
    EXPECT_FALSE(plainText(*document).contains("panose"));

    const auto japanese =
        readRtf(R"({\rtf1{\fonttbl{\f3\fnil\fcharset128 \'82\'6c\'82\'72 \'83\'53\'83\'56\'83\'62)"
                R"(\'83\'4e;}}\f3 x})");
    ASSERT_TRUE(japanese);
    EXPECT_EQ(formatOf(*japanese, "x")->fontFamilies().toStringList(), QStringList{"ＭＳ ゴシック"});

    const auto colors = readRtf(
        R"({\rtf1{\colortbl;\red10\green20\blue30;\red999\green-5\blue255;}a{\cf1 b}{\cf2 c}{\cf9 d}{\cb1 e})"
        R"({\highlight2 f}{\cf0 g}})");
    ASSERT_TRUE(colors);
    EXPECT_EQ(colors->toPlainText(), "abcdefg");
    EXPECT_EQ(formatOf(*colors, "b")->foreground().color(), QColor(10, 20, 30));
    // Components are clamped into a byte.
    EXPECT_EQ(formatOf(*colors, "c")->foreground().color(), QColor(255, 0, 255));
    EXPECT_EQ(formatOf(*colors, "d")->foreground().style(), Qt::NoBrush);
    EXPECT_EQ(formatOf(*colors, "e")->background().color(), QColor(10, 20, 30));
    EXPECT_EQ(formatOf(*colors, "f")->background().color(), QColor(255, 0, 255));
    EXPECT_EQ(formatOf(*colors, "g")->foreground().style(), Qt::NoBrush);
}

// Destinations that hold no document text are skipped whole, including \*-marked ones the reader
// does not know, pictures with binary data that contains braces, and the ANSI half of \upr.
TEST(RtfReaderTest, SkippedDestinations) {
    EXPECT_EQ(textOf(R"({\rtf1 a{\*\unknowndest secret {nested} text}b})"), "ab");
    EXPECT_EQ(textOf(R"({\rtf1 a{\stylesheet{\s0 Normal;}}{\info{\title T}{\author A}}b})"), "ab");
    EXPECT_EQ(textOf(R"({\rtf1 a{\header head\par}{\footer foot}{\footnote note}b})"), "ab");
    EXPECT_EQ(textOf("{\\rtf1 a{\\pict\\pngblip\\bin4 }{}{}b}"), "ab");
    EXPECT_EQ(textOf("{\\rtf1 a{\\pict\\bin3 }}}}b}"), "ab");
    EXPECT_EQ(textOf("{\\rtf1 a{\\pict\\bin999999 }b}"), "a");
    EXPECT_EQ(textOf(R"({\rtf1 {\upr{\f1 ansi text}{\*\ud{\f1 unicode \u8364? text}}}})"),
              QStringLiteral("unicode € text"));
    // A \* before a word the reader handles skips the group too: only destinations are marked so.
    EXPECT_EQ(textOf(R"({\rtf1 a{\*\b hidden}b})"), "ab");
    EXPECT_EQ(textOf(R"({\rtf1 a{\v hidden}b})"), "ab");
}

// The character limit cuts the document and says so; groups beyond the depth limit are dropped with
// their content while the text around them stays.
TEST(RtfReaderTest, LimitsCutTheDocument) {
    const RtfReader::Result cut = RtfReader::read("{\\rtf1 abcdef\\par ghij}", {.maxCharacters = 4});
    ASSERT_TRUE(cut.document);
    EXPECT_EQ(plainText(cut.document), "abcd");
    EXPECT_TRUE(cut.truncated);
    EXPECT_FALSE(RtfReader::read("{\\rtf1 abcdef}", {}).truncated);

    const RtfReader::Result deep =
        RtfReader::read("{\\rtf1 a{b{c{d{e}f}g}h}i}", {.maxGroupDepth = 3, .maxCharacters = 100});
    ASSERT_TRUE(deep.document);
    EXPECT_EQ(plainText(deep.document), "abcghi");

    // Sizes beyond reason are pulled into a point to a thousand points.
    const auto sizes = readRtf(R"({\rtf1{\fs99999999999999 big}{\fs1 tiny}{\fs0 unset}})");
    ASSERT_TRUE(sizes);
    EXPECT_EQ(formatOf(*sizes, "big")->fontPointSize(), 1000);
    EXPECT_EQ(formatOf(*sizes, "tiny")->fontPointSize(), 1);
    EXPECT_FALSE(formatOf(*sizes, "unset")->hasProperty(QTextFormat::FontPointSize));
}

} // namespace
} // namespace snipjar::test
