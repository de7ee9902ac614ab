#include "panel/RowFilter.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace snipjar {

namespace {

// Typed queries never hold control characters, so no match can run from one title into the next.
constexpr char separator = '\0';

// How often a byte occurs in folded clipboard text, roughly (higher is more common). The scan looks
// for the query's least common byte, which keeps the places where the whole query is compared few.
constexpr std::array<quint8, 256> byteFrequencies = [] {
    std::array<quint8, 256> table{};
    for (int byte = 0x20; byte < 0x7F; ++byte) {
        table[size_t(byte)] = 120; // punctuation
    }
    for (int byte = '0'; byte <= '9'; ++byte) {
        table[size_t(byte)] = 150;
    }
    for (int byte = 0x80; byte < 0x100; ++byte) {
        table[size_t(byte)] = 130; // parts of non-ASCII characters
    }
    // Lead bytes of Latin, Greek and Cyrillic letters, and every continuation byte, are common in
    // texts of those scripts.
    for (int byte = 0x80; byte < 0xC0; ++byte) {
        table[size_t(byte)] = 160;
    }
    for (const quint8 byte : {0xC3, 0xC5, 0xCE, 0xCF, 0xD0, 0xD1}) {
        table[byte] = 165;
    }
    const char* const lettersByFrequency = "etaoinsrhldcumfpgwybvkxjqz";
    for (int rank = 0; lettersByFrequency[rank] != 0; ++rank) {
        table[size_t(quint8(lettersByFrequency[rank]))] = quint8(250 - rank * 7);
    }
    table[size_t(' ')] = 255;
    table[size_t('\n')] = 170;
    table[size_t('.')] = 170;
    table[size_t(',')] = 165;
    table[size_t('/')] = 150;
    table[size_t('-')] = 150;
    table[size_t(':')] = 145;
    table[size_t('_')] = 140;
    return table;
}();

qsizetype rarestBytePosition(const QByteArray& needle) {
    qsizetype rarest = 0;
    for (qsizetype position = 1; position < needle.size(); ++position) {
        if (byteFrequencies[quint8(needle[position])] < byteFrequencies[quint8(needle[rarest])]) {
            rarest = position;
        }
    }
    return rarest;
}

// True when the UTF-8 character at `position` belongs to the character before it: a combining
// mark, a joiner or an emoji modifier.
bool continuesCharacter(const char* text, qsizetype position, qsizetype size) {
    // Every such code point is at least U+0300, whose UTF-8 form starts with 0xCC.
    if (position >= size || quint8(text[position]) < 0xCC) {
        return false;
    }
    const QString character = QString::fromUtf8(text + position, std::min<qsizetype>(4, size - position));
    const char32_t codePoint = character.isEmpty() ? 0 : character.toUcs4().value(0);
    switch (QChar::category(codePoint)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return true;
    default:
        break;
    }
    const bool zeroWidthJoiner = codePoint == 0x200D;
    const bool emojiModifier = codePoint >= 0x1F3FB && codePoint <= 0x1F3FF;
    return zeroWidthJoiner || emojiModifier;
}

bool originMatches(const PanelRow& row, const std::optional<QString>& macScope) {
    if (!macScope) {
        return true;
    }
    return std::any_of(row.origins.cbegin(), row.origins.cend(),
                       [&macScope](const MacRef& origin) { return origin.id == *macScope; });
}

// Appends the folded UTF-8 form of a title. Characters below U+0300 are already composed and fold
// one by one, which covers most titles; anything else takes the general path for the whole title.
void appendFolded(QByteArray& buffer, const QString& text) {
    const qsizetype start = buffer.size();
    // Every character below U+0300 folds to one that takes at most three bytes.
    buffer.resize(start + text.size() * 3);
    char* out = buffer.data() + start;
    for (const QChar character : text) {
        const char16_t unit = character.unicode();
        if (unit < 0x80) {
            *out++ = char(unit >= 'A' && unit <= 'Z' ? unit + ('a' - 'A') : unit);
            continue;
        }
        if (unit >= 0x300) {
            buffer.truncate(start);
            buffer += RowFilter::fold(text);
            return;
        }
        const char32_t folded = QChar::toCaseFolded(char32_t(unit));
        // A few letters fold into ASCII (the long s to 's'), which UTF-8 writes in one byte.
        if (folded < 0x80) {
            *out++ = char(folded);
            continue;
        }
        if (folded < 0x800) {
            *out++ = char(0xC0 | (folded >> 6));
        } else {
            *out++ = char(0xE0 | (folded >> 12));
            *out++ = char(0x80 | ((folded >> 6) & 0x3F));
        }
        *out++ = char(0x80 | (folded & 0x3F));
    }
    buffer.truncate(out - buffer.constData());
}

} // namespace

QByteArray RowFilter::fold(const QString& text) {
    return text.normalized(QString::NormalizationForm_C).toCaseFolded().toUtf8();
}

void RowFilter::index(const QList<PanelRow>& rows) {
    qsizetype length = 0;
    for (const PanelRow& row : rows) {
        length += row.text.size() + 1;
    }
    folded.clear();
    // Room for titles that grow when folded into UTF-8, so that the buffer rarely moves.
    folded.reserve(length * 2);
    starts.clear();
    starts.reserve(size_t(rows.size()) + 1);
    for (const PanelRow& row : rows) {
        starts.push_back(folded.size());
        appendFolded(folded, row.text);
        folded += separator;
    }
    starts.push_back(folded.size());
}

void RowFilter::filter(const QList<PanelRow>& rows, const QString& query, TypeScope typeScope,
                       const std::optional<QString>& macScope, std::vector<qsizetype>& visible) const {
    Q_ASSERT(qsizetype(starts.size()) == rows.size() + 1);
    visible.clear();
    const auto passesScopes = [&](qsizetype position) {
        const PanelRow& row = rows[position];
        return typeScopeMatches(typeScope, row) && originMatches(row, macScope);
    };
    if (query.isEmpty()) {
        for (qsizetype position = 0; position < rows.size(); ++position) {
            if (passesScopes(position)) {
                visible.push_back(position);
            }
        }
        return;
    }
    const QByteArray needle = fold(query);
    const qsizetype rare = rarestBytePosition(needle);
    const char rareByte = needle[rare];
    const char* const text = folded.constData();
    const qsizetype size = folded.size();
    const qsizetype rowCount = qsizetype(starts.size()) - 1;
    qsizetype row = 0;
    qsizetype from = 0;
    while (row < rowCount && from + needle.size() <= size) {
        const void* found = std::memchr(text + from + rare, rareByte, size_t(size - from - rare));
        if (!found) {
            break;
        }
        const qsizetype hit = static_cast<const char*>(found) - text - rare;
        const qsizetype end = hit + needle.size();
        if (end > size || std::memcmp(text + hit, needle.constData(), size_t(needle.size())) != 0) {
            from = hit + 1;
            continue;
        }
        // Titles are in order, so the row of a hit is found by walking forward, never back.
        while (starts[size_t(row) + 1] <= hit) {
            ++row;
        }
        const qsizetype titleEnd = starts[size_t(row) + 1] - 1;
        if (end > titleEnd || continuesCharacter(text, end, size)) {
            from = hit + 1;
            continue;
        }
        if (passesScopes(row)) {
            visible.push_back(row);
        }
        // One hit is enough for a row; the search goes on with the next title.
        ++row;
        from = starts[size_t(row)];
    }
}

} // namespace snipjar
