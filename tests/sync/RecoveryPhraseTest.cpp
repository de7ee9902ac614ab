#include "sync/crypto/RecoveryPhrase.h"
#include "sync/crypto/WordBits.h"
#include "sync/crypto/WordList.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace snipjar::crypto {
namespace {

HistoryKey keyFrom(QRandomGenerator& random) {
    QByteArray bytes(HistoryKey::size, '\0');
    random.fillRange(reinterpret_cast<quint32*>(bytes.data()), HistoryKey::size / 4);
    return *HistoryKey::fromBytes(bytes);
}

bool accepted(const QStringList& words) {
    return RecoveryPhrase::parse(words.join(QLatin1Char(' '))).key.has_value();
}

// Every word is found by itself and by its first four letters in any case, and nothing else is:
// a three-letter word never stands for a longer one, and a word past its fourth letter may be
// misspelt. The confirmation words take 11 bits each, so 6 bytes give 4 words.
TEST(WordListTest, WordsAreFoundByThemselvesOrTheirFirstFourLetters) {
    for (int index = 0; index < WordList::size; ++index) {
        const QString word = WordList::word(index);
        ASSERT_EQ(WordList::indexOf(word), index) << word.toStdString();
        ASSERT_EQ(WordList::indexOf(word.toUpper()), index) << word.toStdString();
        if (word.size() > 4) {
            ASSERT_EQ(WordList::indexOf(word.left(4)), index) << word.toStdString();
        }
        if (index > 0) {
            ASSERT_LT(WordList::word(index - 1), word);
        }
    }
    const struct {
        const char* typed;
        const char* found; // nullptr: none
    } cases[] = {
        {"harbour", "harbor"}, {" Harbor\n", "harbor"}, {"har", nullptr},
        {"cat", "cat"},        {"cata", "catalog"},     {"cats", nullptr},
        {"", nullptr},         {"zzzz", nullptr},       {"äpfel", nullptr},
    };
    for (const auto& c : cases) {
        const int index = WordList::indexOf(QString::fromUtf8(c.typed));
        EXPECT_EQ(index < 0 ? QString() : WordList::word(index), QString::fromLatin1(c.found)) << c.typed;
    }
    EXPECT_EQ(WordList::word(-1), QString());
    EXPECT_EQ(WordList::word(WordList::size), QString());

    const QByteArray confirmation = QByteArray::fromHex("ffe0000fffff");
    const QStringList words{WordList::word(2047), WordList::word(0), WordList::word(31),
                            WordList::word(2047)};
    EXPECT_EQ(WordList::wordsFor(confirmation, 8), words);
    EXPECT_EQ(WordList::wordsFor(confirmation, 2), words.mid(0, 2));
}

// Random keys come back from their words however they are typed: numbered, in capitals, across
// lines, with four letters a word, or misspelt past the fourth letter.
TEST(RecoveryPhraseTest, RoundTripsHoweverThePhraseIsTyped) {
    QRandomGenerator random(22);
    const auto prefix = [](const QString& word) { return word.left(4); };
    const struct {
        const char* separator;
        bool numbered;
        std::function<QString(const QString&)> spell;
    } typings[] = {
        {" ", false, [](const QString& word) { return word; }},
        {"  \n", true, [](const QString& word) { return word.toUpper(); }},
        {",\r\n\t", false, prefix},
        {" - ", false, [&](const QString& word) { return word.size() > 4 ? prefix(word) + "xyz" : word; }},
    };
    for (int round = 0; round < 100; ++round) {
        const HistoryKey key = keyFrom(random);
        const QStringList words = RecoveryPhrase::words(key);
        ASSERT_EQ(words.size(), RecoveryPhrase::wordCount);
        for (const auto& typing : typings) {
            QString text;
            for (int i = 0; i < words.size(); ++i) {
                text += (typing.numbered ? QString::number(i + 1) + ". " : QString()) +
                        typing.spell(words[i]) + QLatin1String(typing.separator);
            }
            const RecoveryPhrase::Parsed parsed = RecoveryPhrase::parse(text);
            ASSERT_TRUE(parsed.key.has_value()) << text.toStdString() << parsed.reason.toStdString();
            EXPECT_EQ(*parsed.key, key);
        }
    }
}

// Of all the phrases one wrong word away from a right one, and of all swaps of two neighbouring
// words, at most one in 256 passes the check: each place lets at most 7 of its 2047 wrong words
// through, and the swaps are tried for every difference two words can have.
TEST(RecoveryPhraseTest, AWrongOrSwappedWordIsCaught) {
    QRandomGenerator random(256);
    int substitutions = 0;
    int slipped = 0;
    for (int round = 0; round < 3; ++round) {
        const QStringList words = RecoveryPhrase::words(keyFrom(random));
        for (int position = 0; position < RecoveryPhrase::wordCount; ++position) {
            int slippedHere = 0;
            for (int index = 0; index < WordList::size; ++index) {
                if (WordList::word(index) == words[position]) {
                    continue;
                }
                QStringList typo = words;
                typo[position] = WordList::word(index);
                ++substitutions;
                slippedHere += accepted(typo) ? 1 : 0;
            }
            EXPECT_LE(slippedHere, 7) << "position " << position;
            slipped += slippedHere;
        }
    }
    EXPECT_LE(slipped * 256, substitutions) << slipped << " of " << substitutions;

    // A swap changes two neighbouring words by the same difference; each difference once, placed
    // anywhere in the key.
    int swapsSlipped = 0;
    for (int difference = 1; difference < WordList::size; ++difference) {
        QStringList words = RecoveryPhrase::words(keyFrom(random));
        const int position = difference % (RecoveryPhrase::wordCount - 2);
        const int first = int(random.bounded(WordList::size));
        words[position] = WordList::word(first);
        words[position + 1] = WordList::word(first ^ difference);
        // Those words change the key; the phrase of the changed key carries its own check.
        QByteArray bytes(HistoryKey::size + 1, '\0');
        for (int i = 0; i < RecoveryPhrase::wordCount; ++i) {
            wordBits::write(bytes, i, WordList::indexOf(words[i]));
        }
        QStringList swapped = RecoveryPhrase::words(*HistoryKey::fromBytes(bytes.left(HistoryKey::size)));
        ASSERT_EQ(swapped[position], words[position]);
        swapped.swapItemsAt(position, position + 1);
        swapsSlipped += accepted(swapped) ? 1 : 0;
    }
    EXPECT_LE(swapsSlipped * 256, WordList::size - 1) << swapsSlipped;
}

// Refusals say why: how many words there are (also for a paste a thousand times too long), which
// word is not on the list with the nearest ones, or that the check failed.
TEST(RecoveryPhraseTest, RefusalsSayWhatIsWrong) {
    QRandomGenerator random(7);
    const QStringList words = RecoveryPhrase::words(keyFrom(random));
    QStringList unknown = words;
    unknown[4] = unknown[4].left(1) + QStringLiteral("q") + unknown[4].mid(2);
    QStringList moved = words;
    moved.move(0, 23);
    const struct {
        QString typed;
        RecoveryPhrase::Problem problem;
        const char* reason;
    } cases[] = {
        {QString(), RecoveryPhrase::Problem::wrongCount, "this has 0."},
        {words.mid(1).join(' '), RecoveryPhrase::Problem::wrongCount, "this has 23."},
        {words.join(' ').repeated(1000), RecoveryPhrase::Problem::wrongCount, "this has more."},
        {unknown.join(' '), RecoveryPhrase::Problem::unknownWord, "Word 5,"},
        {moved.join(' '), RecoveryPhrase::Problem::checksum, "mistyped or out of place"},
    };
    for (const auto& c : cases) {
        const RecoveryPhrase::Parsed parsed = RecoveryPhrase::parse(c.typed);
        EXPECT_FALSE(parsed.key.has_value()) << c.reason;
        EXPECT_EQ(parsed.problem, c.problem) << c.reason;
        EXPECT_TRUE(parsed.reason.contains(QLatin1String(c.reason))) << parsed.reason.toStdString();
    }
    const RecoveryPhrase::Parsed typo = RecoveryPhrase::parse(unknown.join(' '));
    EXPECT_TRUE(typo.suggestions.contains(words[4])) << typo.suggestions.join(',').toStdString();
}

} // namespace
} // namespace snipjar::crypto
