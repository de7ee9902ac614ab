#include "RtfTestSupport.h"

#include <QAbstractTextDocumentLayout>
#include <QList>

#include <array>
#include <functional>
#include <random>

namespace snipjar::test {
namespace {

// Every token consumes at least one byte and every character written comes from at least one byte,
// so a reader doing linear work stays within two steps per byte.
constexpr qint64 stepsPerByte = 2;

struct Reading {
    qint64 steps = 0;
    qsizetype characters = 0;
    bool hasDocument = false;
};

Reading readChecked(const QByteArray& input, RtfReader::Limits limits = {}) {
    const RtfReader::Result result = RtfReader::read(input, limits);
    Reading reading{result.steps, 0, result.document != nullptr};
    EXPECT_EQ(reading.hasDocument, RtfReader::isRtf(input));
    if (result.document) {
        reading.characters = result.document->characterCount() - 1;
        EXPECT_LE(reading.characters, std::max<qsizetype>(input.size(), 0));
    }
    EXPECT_LE(result.steps, stepsPerByte * input.size() + 2) << input.left(200).toStdString();
    return reading;
}

QList<QByteArray> seeds() {
    return {
        rtfFixture("libreoffice-writer.rtf"),
        rtfFixture("word-processor.rtf"),
        rtfFixture("cocoa-style.rtf"),
        R"({\rtf1\ansi\ansicpg932\uc2{\fonttbl{\f0\fcharset128 \'82\'6c;}}\f0 \u12354\'82\'a0\'83T{\*\x}\bin3 abc})",
        R"({\rtf1{\colortbl;\red1\green2\blue3;}{\cf1\cb1\highlight1 x}{\upr{a}{\*\ud{\u-10179?\u-8704?}}}})",
    };
}

// Pieces that steer mutations towards the reader's harder paths.
constexpr std::array dictionary{
    "{",
    "}",
    "\\",
    "\\'",
    "\\'8",
    "\\u-",
    "\\u99999999999",
    "\\uc",
    "\\uc999",
    "\\bin",
    "\\bin9",
    "\\*",
    "\\fonttbl",
    "\\f",
    "\\fcharset128",
    "\\colortbl",
    ";",
    "\\par",
    "\\pict",
    "\\upr",
    "\\ud",
    "\\ansicpg",
    "932",
    "\\fs",
    "-",
    " ",
    "\r\n",
    "\\plain",
    "\\deff",
    "\\cf",
    "{\\*\\",
    "\\rtf1",
};

QByteArray mutate(QByteArray input, std::mt19937& random) {
    const auto below = [&random](qsizetype bound) {
        return bound <= 0 ? 0 : std::uniform_int_distribution<qsizetype>(0, bound - 1)(random);
    };
    const int mutations = 1 + below(8);
    for (int m = 0; m < mutations; ++m) {
        const qsizetype at = below(input.size() + 1);
        switch (below(6)) {
        case 0:
            if (at < input.size()) {
                input[at] = static_cast<char>(below(256));
            }
            break;
        case 1:
            input.insert(at, dictionary[below(dictionary.size())]);
            break;
        case 2:
            input.remove(at, below(64));
            break;
        case 3:
            input.insert(at, input.mid(below(input.size()), below(128)));
            break;
        case 4:
            input.truncate(at);
            break;
        default:
            input.insert(at, QByteArray::number(static_cast<qint64>(random()) * (below(2) ? -1 : 1)));
            break;
        }
    }
    return input;
}

// Thousands of mutated samples and token soups: never a crash, always a document for RTF, and the
// work stays linear in the size of each input.
TEST(RtfReaderRobustnessTest, MutatedAndRandomInputs) {
    std::mt19937 random(20240517);
    const QList<QByteArray> corpus = seeds();
    for (int i = 0; i < 4000; ++i) {
        const QByteArray input = mutate(corpus[i % corpus.size()], random);
        readChecked(input);
        if (HasFailure()) {
            FAIL() << "mutation " << i;
        }
    }
    for (int i = 0; i < 1000; ++i) {
        QByteArray input = "{\\rtf1 ";
        const int pieces = std::uniform_int_distribution<int>(1, 400)(random);
        for (int p = 0; p < pieces; ++p) {
            input += dictionary[random() % dictionary.size()];
            if (random() % 3 == 0) {
                input += QByteArray::number(static_cast<int>(random() % 70000) - 35000);
            }
        }
        readChecked(input);
        if (HasFailure()) {
            FAIL() << "token soup " << i;
        }
    }
}

// Input cut anywhere, as a clipboard owner that dies mid-transfer leaves it, still reads.
TEST(RtfReaderRobustnessTest, EveryTruncationReads) {
    for (const QByteArray& sample : seeds()) {
        for (qsizetype length = 0; length <= sample.size(); length += 3) {
            readChecked(sample.left(length));
        }
    }
    // Cut inside the third paragraph: the first two are whole.
    const QByteArray sample = rtfFixture("libreoffice-writer.rtf");
    const auto cut = readRtf(sample.left(sample.indexOf("large blue")));
    ASSERT_TRUE(cut);
    EXPECT_EQ(plainText(cut), "Shopping list\nBuy bread, cheese and olives; not wine.\nRed and ");
}

// Inputs built to make a careless reader go quadratic, recurse, or allocate without bound. For each,
// ten times the input costs about ten times the work.
TEST(RtfReaderRobustnessTest, HostileShapesCostLinearWork) {
    const std::array<std::pair<const char*, std::function<QByteArray(int)>>, 12> shapes{{
        {"deep nesting",
         [](int n) { return "{\\rtf1 " + QByteArray(n, '{') + "x" + QByteArray(n, '}') + "}"; }},
        {"unclosed nesting", [](int n) { return "{\\rtf1 " + QByteArray(n, '{') + "\\b x"; }},
        {"style flips",
         [](int n) { return "{\\rtf1 " + QByteArray("{\\b a}{\\i\\fs30 b}\\cf1 c").repeated(n / 20); }},
        {"Unicode with huge fallback counts",
         [](int n) { return "{\\rtf1\\uc2147483647 " + QByteArray("\\u8364 xyz\\'80").repeated(n / 14); }},
        {"endless words and numbers",
         [](int n) {
             return "{\\rtf1 \\" + QByteArray(n / 2, 'w') + "\\fs" + QByteArray(n / 2, '9') + " x}";
         }},
        {"font table flood",
         [](int n) {
             return "{\\rtf1{\\fonttbl" + QByteArray("{\\f77\\fcharset128 \\'82\\'6c;}").repeated(n / 28) +
                    "}x}";
         }},
        {"colour table flood", [](int n) { return "{\\rtf1{\\colortbl" + QByteArray(n, ';') + "}x}"; }},
        {"paragraph flood", [](int n) { return "{\\rtf1 " + QByteArray("\\par").repeated(n / 4) + "x}"; }},
        {"code page switches",
         [](int n) {
             return "{\\rtf1" + QByteArray("\\ansicpg932\\'82\\ansicpg1251\\'cf\\ansicpg9").repeated(n / 40);
         }},
        {"ignorable groups", [](int n) { return "{\\rtf1 " + QByteArray("{\\*\\x{a}").repeated(n / 8); }},
        {"binary claims",
         [](int n) { return "{\\rtf1 " + QByteArray("{\\pict\\bin2147483647 }").repeated(n / 22); }},
        {"lone surrogates", [](int n) { return "{\\rtf1 " + QByteArray("\\u-10179?").repeated(n / 9); }},
    }};
    for (const auto& [name, shape] : shapes) {
        SCOPED_TRACE(name);
        const QByteArray small = shape(100'000);
        const QByteArray large = shape(1'000'000);
        const Reading smallReading = readChecked(small);
        const Reading largeReading = readChecked(large);
        const double sizeRatio = double(large.size()) / small.size();
        EXPECT_LE(largeReading.steps, 1.1 * sizeRatio * smallReading.steps + 100);
        EXPECT_TRUE(largeReading.hasDocument);
    }
}

// A view lays its document out again on every change it hears of; a read is one change however many
// runs it writes, so a long paragraph of tiny runs never costs a layout per run.
TEST(RtfReaderRobustnessTest, ReadingIsOneChangeToTheDocument) {
    QTextDocument document;
    document.setPlainText("previous clip");
    document.documentLayout();
    int changes = 0;
    QObject::connect(&document, &QTextDocument::contentsChange, &document, [&changes] { ++changes; });

    const QByteArray runs =
        "{\\rtf1 " + QByteArray("{\\b a}{\\i\\fs30 b}\\cf1 c\\line ").repeated(5'000) + "}";
    const RtfReader::Outcome outcome = RtfReader::readInto(runs, document, {});
    EXPECT_TRUE(outcome.isRtf);
    EXPECT_EQ(document.characterCount() - 1, 20'000);
    EXPECT_FALSE(document.toPlainText().contains("previous"));
    EXPECT_EQ(changes, 1);

    changes = 0;
    EXPECT_FALSE(RtfReader::readInto("not rtf", document, {}).isRtf);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(document.characterCount() - 1, 20'000);
}

// A 10 MB clip reads in one linear pass; the document stops at its character limit and says so.
TEST(RtfReaderRobustnessTest, TenMegabyteClip) {
    const QByteArray paragraph = R"({\b Bold} {\i italic} {\cf2\fs28 colour} \u8364\'80 plain text\par )";
    const QByteArray header =
        R"({\rtf1\ansi{\fonttbl{\f0 Arial;}}{\colortbl;\red1\green2\blue3;\red200\green0\blue0;})";
    const QByteArray input = header + paragraph.repeated(10'000'000 / paragraph.size()) + "}";
    ASSERT_GE(input.size(), 9'900'000);

    const RtfReader::Result limited = RtfReader::read(input, {});
    ASSERT_TRUE(limited.document);
    EXPECT_TRUE(limited.truncated);
    // The limit counts a paragraph end that no text followed.
    EXPECT_GE(limited.document->characterCount() - 1, RtfReader::Limits{}.maxCharacters - 1);
    EXPECT_LE(limited.document->characterCount() - 1, RtfReader::Limits{}.maxCharacters);
    EXPECT_LE(limited.steps, stepsPerByte * input.size());

    // Ten megabytes of markup around little text are read to the end.
    const QByteArray markup =
        "{\\rtf1" + QByteArray("{\\b\\i\\ul\\strike\\fs20\\cf1 x}").repeated(400'000) + "}";
    const Reading marked = readChecked(markup);
    EXPECT_EQ(marked.characters, 400'000);
}

} // namespace
} // namespace snipjar::test
