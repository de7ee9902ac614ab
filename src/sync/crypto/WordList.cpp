#include "sync/crypto/WordList.h"

#include "sync/crypto/WordBits.h"

#include <QHash>

#include <algorithm>
#include <vector>

namespace snipjar::crypto {
namespace detail {
extern const char* const recoveryWords[WordList::size];
} // namespace detail

namespace {

constexpr int prefixLength = 4;

// The words by their first four letters (the whole word when shorter), built once.
const QHash<QString, int>& wordsByPrefix() {
    static const QHash<QString, int> table = [] {
        QHash<QString, int> byPrefix;
        for (int index = 0; index < WordList::size; ++index) {
            byPrefix.insert(QString::fromLatin1(detail::recoveryWords[index]).left(prefixLength), index);
        }
        return byPrefix;
    }();
    return table;
}

// How many letters to insert, remove or replace to turn one word into the other.
int editDistance(const QString& from, const QString& to) {
    std::vector<int> previous(to.size() + 1);
    std::vector<int> current(to.size() + 1);
    for (qsizetype column = 0; column <= to.size(); ++column) {
        previous[column] = int(column);
    }
    for (qsizetype row = 1; row <= from.size(); ++row) {
        current[0] = int(row);
        for (qsizetype column = 1; column <= to.size(); ++column) {
            const int replace = previous[column - 1] + (from[row - 1] == to[column - 1] ? 0 : 1);
            current[column] = std::min({previous[column] + 1, current[column - 1] + 1, replace});
        }
        std::swap(previous, current);
    }
    return previous[to.size()];
}

} // namespace

QString WordList::word(int index) {
    if (index < 0 || index >= size) {
        return {};
    }
    return QString::fromLatin1(detail::recoveryWords[index]);
}

int WordList::indexOf(QStringView typed) {
    const QString folded = typed.trimmed().toString().toLower();
    if (folded.size() < prefixLength) {
        // A short word is only ever itself: "cat" must not stand for "catalog".
        const int index = wordsByPrefix().value(folded, -1);
        return index >= 0 && word(index) == folded ? index : -1;
    }
    return wordsByPrefix().value(folded.left(prefixLength), -1);
}

QStringList WordList::nearest(QStringView typed, int count) {
    // Words are compared over the letters that name them, so that a long misspelling is not
    // pushed away from the word by letters that never mattered.
    const QString folded = typed.trimmed().toString().toLower();
    std::vector<std::pair<int, int>> ranked; // (distance, index)
    ranked.reserve(size);
    for (int index = 0; index < size; ++index) {
        const QString candidate = word(index);
        const int distance = std::min(editDistance(folded, candidate),
                                      editDistance(folded.left(prefixLength), candidate.left(prefixLength)));
        ranked.emplace_back(distance, index);
    }
    const auto shown = std::min<std::size_t>(std::max(count, 0), ranked.size());
    std::partial_sort(ranked.begin(), ranked.begin() + qsizetype(shown), ranked.end());
    QStringList words;
    for (std::size_t position = 0; position < shown; ++position) {
        words << word(ranked[position].second);
    }
    return words;
}

QStringList WordList::wordsFor(const QByteArray& bytes, int count) {
    QStringList words;
    const int available = int(bytes.size() * 8 / bitsPerWord);
    for (int position = 0; position < std::min(count, available); ++position) {
        words << word(wordBits::read(bytes, position));
    }
    return words;
}

} // namespace snipjar::crypto
