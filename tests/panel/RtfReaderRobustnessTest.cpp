#include "RtfTestSupport.h"

#include <QAbstractTextDocumentLayout>
#include <QList>

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

// Pieces that steer mutations towards the reader's harder paths, split at "|".
const QList<QByteArray> dictionary =
    QByteArray(
        "{|}|\\|\\'|\\'8|\\u-|\\u99999999999|\\uc|\\uc999|\\bin|\\bin9|\\*|\\fonttbl|\\f|\\fcharset128|"
        "\\colortbl|;|\\par|\\pict|\\upr|\\ud|\\ansicpg|932|\\fs|-| |\r\n|\\plain|\\deff|\\cf|{\\*\\|\\rtf1")
        .split('|');

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
    for (int i = 0; i < 5000 && !HasFailure(); ++i) {
        QByteArray input = "{\\rtf1 ";
        if (i < 4000) {
            input = mutate(corpus[i % corpus.size()], random);
        } else {
            for (int p = std::uniform_int_distribution<int>(1, 400)(random); p > 0; --p) {
                input += dictionary[qsizetype(random() % dictionary.size())];
                if (random() % 3 == 0) {
                    input += QByteArray::number(static_cast<int>(random() % 70000) - 35000);
                }
            }
        }
        readChecked(input);
        EXPECT_FALSE(HasFailure()) << "input " << i;
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

// Inputs built to make a careless reader go quadratic, recurse, or allocate without bound: a head,
// a unit repeated to size, a middle, and as many closers. For each, ten times the input costs about
// ten times the work.
TEST(RtfReaderRobustnessTest, HostileShapesCostLinearWork) {
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
        SCOPED_TRACE(shape.name);
        const QByteArray small = shape.of(100'000);
        const QByteArray large = shape.of(1'000'000);
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

    const RtfReader::Result limited = RtfReader::read(input, {});
    ASSERT_TRUE(limited.document);
    EXPECT_TRUE(limited.truncated);
    // The limit counts a paragraph end that no text followed.
    EXPECT_GE(limited.document->characterCount() - 1, RtfReader::Limits{}.maxCharacters - 1);
    EXPECT_LE(limited.document->characterCount() - 1, RtfReader::Limits{}.maxCharacters);
    EXPECT_LE(limited.steps, stepsPerByte * input.size());
}

} // namespace
} // namespace snipjar::test
