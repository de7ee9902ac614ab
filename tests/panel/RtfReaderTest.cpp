#include "panel/RtfReader.h"

#include <QColor>
#include <QFile>
#include <QFont>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

namespace snipjar::test {
namespace {

using namespace Qt::StringLiterals;

// The hand-written RTF samples in tests/fixtures/rtf, shaped like what office suites put on the
// clipboard.
QByteArray fixture(const char* name) {
    QFile file(QStringLiteral(SNIPJAR_FIXTURES_DIR "/rtf/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

// The document's text exactly as stored, paragraphs joined by "\n". QTextDocument::toPlainText
// would turn non-breaking spaces into spaces and line separators into line feeds.
QString plainText(const QTextDocument* document) {
    if (!document) {
        return u"<none>"_s;
    }
    QString text;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        text += (block != document->begin() ? u"\n"_s : QString()) + block.text();
    }
    return text;
}
QString textOf(const QByteArray& rtf) {
    return plainText(RtfReader::read(rtf).get());
}

// The format of the styled run that holds `text`; none when no single run holds it.
std::optional<QTextCharFormat> formatOf(const QTextDocument& document, const QString& text) {
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            if (fragment.fragment().text().contains(text)) {
                return fragment.fragment().charFormat();
            }
        }
    }
    return std::nullopt;
}
QStringList familiesOf(const QTextDocument& document, const QString& text) {
    return formatOf(document, text)->fontFamilies().toStringList();
}

// The text read from each construct. Only bytes that open an RTF group are RTF; whatever follows
// the closing brace is not part of the document.
TEST(RtfReaderTest, TextOfEachConstruct) {
    const struct {
        QByteArray rtf;
        QString text;
    } cases[] = {
        {"", u"<none>"_s},
        {"plain text", u"<none>"_s},
        {"<html><body>{\\rtf1 x}</body></html>", u"<none>"_s},
        {QByteArray("\0{\\rtf1 x}", 10), u"<none>"_s},
        {"{\\rtf1}", u""_s},
        {"\r\n  {\\rtf1\\ansi hello}", u"hello"_s},
        {"{\\rtf1 inside}outside", u"inside"_s},
        // Escapes, characters written as words and the break words; source line breaks only wrap
        // lines, the space after a word only ends it.
        {R"({\rtf1 a\\b\{c\}d})", u"a\\b{c}d"_s},
        {R"({\rtf1 no\~break soft\-hyphen non\_breaking})",
         u"no\u00A0break soft\u00ADhyphen non\u2011breaking"_s},
        {R"({\rtf1 \emdash\endash\bullet\lquote\rquote\ldblquote\rdblquote})", u"—–•‘’“”"_s},
        {R"({\rtf1 a\tab b\line c\par d\par\par e})", u"a\tb\u2028c\nd\n\ne"_s},
        // A backslash before a line break ends the paragraph; symbols without a meaning here go.
        {"{\\rtf1 a\\\nb\\:c}", u"a\nbc"_s},
        {"{\\rtf1 one\r\ntwo \\b  three}", u"onetwo  three"_s},
        {R"({\rtf1 \trowd\cellx1000\cellx2000 A1\cell B1\cell\row A2\cell B2\cell\row})",
         u"A1\tB1\t\nA2\tB2\t"_s},
        // \uN is a UTF-16 unit, negative above 32767, followed by \ucN fallback characters (1 unless
        // given, scoped to the group, never reaching into the next one) that are dropped: a \'hh or a
        // control word counts as one. Unpaired surrogates, control characters and values beyond 16
        // bits never reach the text.
        {R"({\rtf1 \u233?t\u233\'e9})", u"été"_s},
        {R"({\rtf1\uc2 \u8364\'80\'80 net})", u"€ net"_s},
        {R"({\rtf1\uc2 \u8364 EUR})", u"€R"_s},
        {R"({\rtf1\uc0 \u8364 EUR})", u"€EUR"_s},
        {R"({\rtf1 {\uc3 \u8364 abc}\u8364 abc})", u"€€bc"_s},
        {R"({\rtf1 \u8364\emdash x})", u"€x"_s},
        {R"({\rtf1\uc4 \u8364{x}y})", u"€xy"_s},
        {R"({\rtf1 a\u-10179?b\u-8704?c\u1?\u70000?d})", u"a\uFFFDb\uFFFDcd"_s},
        {R"({\rtf1 a\'zb\'00c\'1fd\'7fe\u0 f})", u"azbcde"_s},
        // \'hh bytes decode in the document's code page unless the current font's charset (or a \cpg
        // in the font table) says otherwise; consecutive bytes, and a trail byte written as a plain
        // character, form multi-byte characters; a code page nothing here decodes reads as Latin-1.
        {R"({\rtf1\ansi \'93x\'94 \'80 \'e9})", u"“x” € é"_s},
        {R"({\rtf1\ansi\ansicpg1251 \'cf\'f0\'e8})", u"При"_s},
        {R"({\rtf1\mac Caf\'8e})", u"Café"_s},
        {R"({\rtf1\ansi\ansicpg932 \'82\'a0\'82\'a2})", u"あい"_s},
        {R"({\rtf1\ansi\ansicpg932 \'83T})", u"サ"_s},
        {R"({\rtf1\ansi\ansicpg936 \'c4\'e3\'ba\'c3})", u"你好"_s},
        {R"({\rtf1\ansi\ansicpg4242 \'e9\'80})", u"é\u0080"_s},
        {R"({\rtf1\ansi \'E9\'c9})", u"éÉ"_s},
        {R"({\rtf1\ansi\deff1{\fonttbl{\f0 Arial;}{\f1\fcharset204 Arial Cyr;}{\f2\fcharset161 Greek;}})"
         R"( \'cf {\f2\'e1} {\f0\'e9}})",
         u" П α é"_s},
        {R"({\rtf1{\fonttbl{\f0\fcharset0\cpg1251 X;}}\f0\'cf})", u"П"_s},
        // Outside the text, bytes before a font's number, characters, symbols and malformed escapes
        // are no text.
        {R"({\rtf1{\fonttbl stray{\f0\u8364? A\~\'zB;}}\f0 x})", u"x"_s},
        // Destinations without document text are skipped whole: \*-marked ones the reader does not
        // know (a \* before a word it handles too), pictures with binary data that contains braces,
        // hidden text and the ANSI half of \upr.
        {R"({\rtf1 a{\*\unknowndest secret {nested} text}b})", u"ab"_s},
        {R"({\rtf1 a{\header head\par}{\footer foot}{\footnote note}b})", u"ab"_s},
        {"{\\rtf1 a{\\pict\\pngblip\\bin4 }{}{}b}", u"ab"_s},
        {"{\\rtf1 a{\\pict\\bin3 }}}}b}", u"ab"_s},
        {"{\\rtf1 a{\\pict\\bin999999 }b}", u"a"_s},
        {R"({\rtf1 {\upr{\f1 ansi text}{\*\ud{\f1 unicode \u8364? text}}}})", u"unicode € text"_s},
        {R"({\rtf1 a{\*\b hidden}b})", u"ab"_s},
        {R"({\rtf1 a{\v hidden}b})", u"ab"_s},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(textOf(c.rtf), c.text) << c.rtf.toStdString();
    }
}

// A LibreOffice Writer selection: paragraphs, fonts, a centred paragraph and Unicode with code-page
// fallbacks; nothing from the style sheet, page styles or metadata shows.
TEST(RtfReaderTest, LibreOfficeSelection) {
    const auto document = RtfReader::read(fixture("libreoffice-writer.rtf"));
    ASSERT_TRUE(document);
    EXPECT_EQ(plainText(document.get()),
              u"Shopping list\nBuy bread, cheese and olives; not wine.\n"
              u"Red and large blue marked\nCafé naïve — 你好 code\u2028second line"_s);
    EXPECT_EQ(familiesOf(*document, u"Shopping"_s), QStringList{u"Liberation Sans"_s});
    EXPECT_EQ(formatOf(*document, u"code"_s)->fontStyleHint(), QFont::TypeWriter);
    EXPECT_EQ(document->find(u"Red"_s).block().blockFormat().alignment(), Qt::AlignHCenter);
    // The closing \par of the last paragraph opens no empty one.
    EXPECT_EQ(document->blockCount(), 4);
}

// A word processor's clipboard: code page 1252 punctuation, Cyrillic and Japanese fonts with their
// own charsets, a hyperlink field (its styled result, never its instruction), Unicode beyond 32767
// and surrogate pairs; headers, pictures, bookmarks, theme data, font table entries (and their
// subgroups) and document properties stay out.
TEST(RtfReaderTest, WordProcessorDocument) {
    const auto document = RtfReader::read(fixture("word-processor.rtf"));
    ASSERT_TRUE(document);
    EXPECT_EQ(plainText(document.get()),
              u"Quarterly report: draft, see the figures \u201Cquoted\u201D \u2013 50\u20AC\u00A0net\n"
              u"Привет こんにちは \uFB01\U0001F600"_s);
    EXPECT_TRUE(formatOf(*document, u"the figures"_s)->fontUnderline());
    EXPECT_EQ(familiesOf(*document, u"Привет"_s), QStringList{u"Arial Cyr"_s});
    EXPECT_EQ(familiesOf(*document, u"こんにちは"_s), QStringList{u"MS Mincho"_s});
}

// A font table written without a group per font, backslash-newline paragraph ends and \uc0.
TEST(RtfReaderTest, FontTableWithoutEntryGroups) {
    const auto document = RtfReader::read(fixture("cocoa-style.rtf"));
    ASSERT_TRUE(document);
    EXPECT_EQ(plainText(document.get()), u"Plain text, then bold, then mono\ttabbed\ngreen on a new line\n"
                                         u"\u201CSmart quotes\u201D and \u2026"_s);
    EXPECT_EQ(familiesOf(*document, u"bold"_s), QStringList{u"Helvetica-Bold"_s});
}

// Groups save and restore formatting; toggles switch off with a 0 parameter; \plain resets.
TEST(RtfReaderTest, FormattingIsScopedToGroups) {
    const auto document =
        RtfReader::read(R"({\rtf1 a{\b b{\i c}d}e\b f\b0 g\ul h\ulnone i\ul j\ul0 k\strike l\strike0 m)"
                        R"(\b\i\fs40 n\plain o{\super p}{\sub q}r\v hidden\v0 s})");
    ASSERT_TRUE(document);
    EXPECT_EQ(plainText(document.get()), u"abcdefghijklmnopqrs"_s);
    // Each run, then B, I, U, S where it is bold, italic, underlined, struck out.
    for (const QByteArray& run :
         QByteArray("a.... bB... cBI.. dB... e.... fB... g.... h..U. i.... j..U. k.... "
                    "l...S m.... o....")
             .split(' ')) {
        const QTextCharFormat format = *formatOf(*document, QString(QLatin1Char(run[0])));
        QByteArray got = run.left(1);
        got += format.fontWeight() == QFont::Bold ? 'B' : '.';
        got += format.fontItalic() ? 'I' : '.';
        got += format.fontUnderline() ? 'U' : '.';
        got += format.fontStrikeOut() ? 'S' : '.';
        EXPECT_EQ(got, run);
    }
    EXPECT_EQ(formatOf(*document, u"n"_s)->fontPointSize(), 20);
    EXPECT_FALSE(formatOf(*document, u"o"_s)->hasProperty(QTextFormat::FontPointSize));
    EXPECT_EQ(formatOf(*document, u"p"_s)->verticalAlignment(), QTextCharFormat::AlignSuperScript);
    EXPECT_EQ(formatOf(*document, u"q"_s)->verticalAlignment(), QTextCharFormat::AlignSubScript);
    EXPECT_EQ(formatOf(*document, u"r"_s)->verticalAlignment(), QTextCharFormat::AlignNormal);
}

// Font names decode in their font's charset; colour components are clamped into a byte and come in
// any order, and an unknown or automatic colour is none.
TEST(RtfReaderTest, FontAndColorTables) {
    const auto japanese = RtfReader::read(
        R"({\rtf1{\fonttbl{\f3\fnil\fcharset128 \'82\'6c\'82\'72 \'83\'53\'83\'56\'83\'62\'83\'4e;}}\f3 x})");
    ASSERT_TRUE(japanese);
    EXPECT_EQ(familiesOf(*japanese, u"x"_s), QStringList{u"ＭＳ ゴシック"_s});

    const auto colors = RtfReader::read(
        R"({\rtf1{\colortbl;\red10\green20\blue30;\red999\green-5\blue255;\green7\blue8\red9;\blue6\red5\green4;)"
        R"(\ctint255\red1\green2\blue3;}a{\cf1 b}{\cf2 c}{\cf9 d}{\cb1 e}{\highlight2 f}{\cf0 g}{\cf3 h}{\cf4 i})"
        R"({\cf5 j}})");
    ASSERT_TRUE(colors);
    EXPECT_EQ(colors->toPlainText(), u"abcdefghij"_s);
    EXPECT_EQ(formatOf(*colors, u"b"_s)->foreground().color(), QColor(10, 20, 30));
    EXPECT_EQ(formatOf(*colors, u"c"_s)->foreground().color(), QColor(255, 0, 255));
    EXPECT_EQ(formatOf(*colors, u"d"_s)->foreground().style(), Qt::NoBrush);
    EXPECT_EQ(formatOf(*colors, u"e"_s)->background().color(), QColor(10, 20, 30));
    EXPECT_EQ(formatOf(*colors, u"f"_s)->background().color(), QColor(255, 0, 255));
    EXPECT_EQ(formatOf(*colors, u"g"_s)->foreground().style(), Qt::NoBrush);
    // An entry may name its components in any order, after words of its own.
    EXPECT_EQ(formatOf(*colors, u"h"_s)->foreground().color(), QColor(9, 7, 8));
    EXPECT_EQ(formatOf(*colors, u"i"_s)->foreground().color(), QColor(5, 4, 6));
    EXPECT_EQ(formatOf(*colors, u"j"_s)->foreground().color(), QColor(1, 2, 3));
}

// Every token consumes at least one byte and every character written comes from at least one byte,
// so a reader doing linear work stays within two steps per byte.
constexpr qint64 stepsPerByte = 2;

// Reads and checks the reader's promises: a document exactly for RTF, no more characters than
// bytes, linear work; the steps taken.
qint64 readChecked(const QByteArray& input, RtfReader::Limits limits = {}) {
    const RtfReader::Result result = RtfReader::read(input, limits);
    EXPECT_EQ(result.document != nullptr, RtfReader::isRtf(input));
    if (result.document) {
        EXPECT_LE(result.document->characterCount() - 1, input.size());
    }
    EXPECT_LE(result.steps, stepsPerByte * input.size() + 2) << input.left(200).toStdString();
    return result.steps;
}

// The character limit cuts the document and says so, also for a 10 MB clip, where the limit counts
// a paragraph end that no text followed; groups beyond the depth limit are dropped with their
// content while the text around them stays; sizes beyond reason are pulled into 1 to 1000 points.
TEST(RtfReaderTest, LimitsCutTheDocument) {
    const RtfReader::Result cut = RtfReader::read("{\\rtf1 abcdef\\par ghij}", {.maxCharacters = 4});
    EXPECT_EQ(plainText(cut.document.get()), u"abcd"_s);
    EXPECT_TRUE(cut.truncated);
    EXPECT_FALSE(RtfReader::read("{\\rtf1 abcdef}", {}).truncated);

    const QByteArray paragraph = R"({\b Bold} {\i italic} {\cf2\fs28 colour} \u8364\'80 plain text\par )";
    const QByteArray huge =
        R"({\rtf1\ansi{\fonttbl{\f0 Arial;}}{\colortbl;\red1\green2\blue3;\red200\green0\blue0;})" +
        paragraph.repeated(10'000'000 / paragraph.size()) + "}";
    const RtfReader::Result limited = RtfReader::read(huge, {});
    ASSERT_TRUE(limited.document);
    EXPECT_TRUE(limited.truncated);
    EXPECT_GE(limited.document->characterCount() - 1, RtfReader::Limits{}.maxCharacters - 1);
    EXPECT_LE(limited.document->characterCount() - 1, RtfReader::Limits{}.maxCharacters);
    EXPECT_LE(limited.steps, stepsPerByte * huge.size());

    const RtfReader::Result deep =
        RtfReader::read("{\\rtf1 a{b{c{d{e}f}g}h}i}", {.maxGroupDepth = 3, .maxCharacters = 100});
    EXPECT_EQ(plainText(deep.document.get()), u"abcghi"_s);

    const auto sizes = RtfReader::read(R"({\rtf1{\fs99999999999999 big}{\fs1 tiny}{\fs0 unset}})");
    ASSERT_TRUE(sizes);
    EXPECT_EQ(formatOf(*sizes, u"big"_s)->fontPointSize(), 1000);
    EXPECT_EQ(formatOf(*sizes, u"tiny"_s)->fontPointSize(), 1);
    EXPECT_FALSE(formatOf(*sizes, u"unset"_s)->hasProperty(QTextFormat::FontPointSize));
}

// Every sample cut anywhere (as a clipboard owner that dies mid-transfer leaves it): never a crash,
// always a document for RTF, linear work. Random inputs are the libFuzzer target's (fuzz/), which
// checks the same promises.
TEST(RtfReaderTest, TruncationsKeepThePromises) {
    for (const QByteArray& sample :
         {fixture("libreoffice-writer.rtf"), fixture("word-processor.rtf"), fixture("cocoa-style.rtf"),
          QByteArray(
              R"({\rtf1\ansi\ansicpg932\uc2{\fonttbl{\f0\fcharset128 \'82\'6c;}}\f0 \u12354\'82\'a0\'83T)"
              R"({\*\x}\bin3 abc})"),
          QByteArray(R"({\rtf1{\colortbl;\red1\green2\blue3;}{\cf1\cb1\highlight1 x}{\upr{a}{\*\ud{\u-10179?)"
                     R"(\u-8704?}}}})")}) {
        for (qsizetype length = 0; length <= sample.size(); length += 3) {
            readChecked(sample.left(length));
        }
    }
    // Cut inside the third paragraph: the first two are whole.
    const QByteArray sample = fixture("libreoffice-writer.rtf");
    EXPECT_EQ(textOf(sample.left(sample.indexOf("large blue"))),
              u"Shopping list\nBuy bread, cheese and olives; not wine.\nRed and "_s);
}

// Inputs built to make a careless reader go quadratic, recurse, or allocate without bound: a head,
// a unit repeated to size, a middle, and as many closers. For each, ten times the input costs about
// ten times the work.
TEST(RtfReaderTest, HostileShapesCostLinearWork) {
    struct Shape {
        const char* name;
        QByteArray head, unit, middle, closer;
        QByteArray of(int size) const {
            const int count = size / int(unit.size() + closer.size());
            return head + unit.repeated(count) + middle + closer.repeated(count) + "}";
        }
    };
    const Shape shapes[] = {
        {"deep nesting", "{\\rtf1 ", "{", "x", "}"},
        {"unclosed nesting", "{\\rtf1 ", "{", "\\b x", ""},
        {"style flips", "{\\rtf1 ", "{\\b a}{\\i\\fs30 b}\\cf1 c", "", ""},
        {"Unicode with huge fallback counts", "{\\rtf1\\uc2147483647 ", "\\u8364 xyz\\'80", "", ""},
        {"endless words and numbers", "{\\rtf1 \\", "w", "\\fs", "9"},
        {"font table flood", "{\\rtf1{\\fonttbl", "{\\f77\\fcharset128 \\'82\\'6c;}", "}x", ""},
        {"colour table flood", "{\\rtf1{\\colortbl", ";", "}x", ""},
        {"paragraph flood", "{\\rtf1 ", "\\par", "x", ""},
        {"code page switches", "{\\rtf1", "\\ansicpg932\\'82\\ansicpg1251\\'cf\\ansicpg9", "", ""},
        {"ignorable groups", "{\\rtf1 ", "{\\*\\x{a}", "", ""},
        {"binary claims", "{\\rtf1 ", "{\\pict\\bin2147483647 }", "", ""},
        {"lone surrogates", "{\\rtf1 ", "\\u-10179?", "", ""},
    };
    for (const Shape& shape : shapes) {
        const QByteArray small = shape.of(100'000);
        const QByteArray large = shape.of(1'000'000);
        const double sizeRatio = double(large.size()) / small.size();
        EXPECT_LE(readChecked(large), 1.1 * sizeRatio * readChecked(small) + 100) << shape.name;
    }
}

// A view lays its document out again on every change it hears of; a read is one change however many
// runs it writes, so a long paragraph of tiny runs never costs a layout per run. Bytes that are no
// RTF leave the document alone.
TEST(RtfReaderTest, ReadingIsOneChangeToTheDocument) {
    QTextDocument document;
    document.setPlainText(u"previous clip"_s);
    document.documentLayout();
    int changes = 0;
    QObject::connect(&document, &QTextDocument::contentsChange, &document, [&changes] { ++changes; });

    const QByteArray runs =
        "{\\rtf1 " + QByteArray("{\\b a}{\\i\\fs30 b}\\cf1 c\\line ").repeated(5'000) + "}";
    EXPECT_TRUE(RtfReader::readInto(runs, document, {}).isRtf);
    EXPECT_EQ(document.characterCount() - 1, 20'000);
    EXPECT_EQ(changes, 1);

    EXPECT_FALSE(RtfReader::readInto("not rtf", document, {}).isRtf);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(document.characterCount() - 1, 20'000);
}

} // namespace
} // namespace snipjar::test
