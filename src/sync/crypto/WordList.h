#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace snipjar::crypto {

// The 2048 words that write keys and confirmations down (words.txt, described in
// docs/recovery-phrase.md): lowercase, 3 to 8 letters, in sorted order, so that each word stands
// for 11 bits, its index. No two words share their first four letters, so that four letters are
// enough to type a word and a misspelling after them changes nothing.
class WordList {
public:
    static constexpr int size = 2048;
    static constexpr int bitsPerWord = 11;

    // The word at index (0 to 2047); empty outside.
    static QString word(int index);
    // The index of a typed word in any case: the word itself, or any text of four letters or more
    // whose first four are a word's ("harb", "harbour" for "harbor"); -1 when it names none.
    static int indexOf(QStringView typed);
    // The words closest to a typed one that names none (fewest letters to change), best first.
    static QStringList nearest(QStringView typed, int count = 3);
    // `count` words from the leading bits of bytes, 11 bits a word, for a value that two computers
    // show side by side to be compared by a person; fewer when bytes run out (6 bytes give 4).
    static QStringList wordsFor(const QByteArray& bytes, int count);
};

} // namespace snipjar::crypto
