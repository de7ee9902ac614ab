#pragma once

#include "sync/crypto/HistoryKey.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace snipjar::crypto {

// A history key written as 24 words of the WordList, for a person to keep on paper and type on
// a new computer: the 256 bits of the key and an 8-bit check of them (a CRC, see
// docs/recovery-phrase.md), 11 bits a word. The check catches a wrong or misplaced word: of the
// 2047 wrong words that could be typed in any place, only 7 pass, and the same holds for two
// words swapped.
class RecoveryPhrase {
public:
    static constexpr int wordCount = 24;

    // What a typed phrase was refused for.
    enum class Problem {
        none,
        wrongCount,  // not 24 words
        unknownWord, // a word that is not on the list
        checksum,    // every word is on the list, but the check does not match: a typo somewhere
    };

    struct Parsed {
        std::optional<HistoryKey> key; // set when the phrase was accepted
        Problem problem = Problem::none;
        // Why it was refused, as a sentence to show.
        QString reason;
        // For an unknown word: the word as typed, its place (1 to 24) and the nearest listed words.
        QString word;
        int position = 0;
        QStringList suggestions;
    };

    static QStringList words(const HistoryKey& key);
    // The words joined by single spaces.
    static QString text(const HistoryKey& key);
    // Reads a typed phrase: any case; spaces, newlines, punctuation and numbering ("1.", "12)")
    // between words; a word by its first four letters.
    static Parsed parse(const QString& typed);

    // The check of the key's bytes: CRC-8, polynomial x^8+x^4+x^3+x^2+1, first bit first.
    static quint8 checksum(const QByteArray& keyBytes);
};

} // namespace snipjar::crypto
