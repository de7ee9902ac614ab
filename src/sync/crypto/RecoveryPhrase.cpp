#include "sync/crypto/RecoveryPhrase.h"

#include "sync/crypto/WordBits.h"
#include "sync/crypto/WordList.h"

#include <QRegularExpression>

namespace snipjar::crypto {

// A CRC rather than the leading bits of a cryptographic hash: its polynomial is primitive, so
// any change confined to one word's 11 bits, and any swap of two words, is caught unless it is
// one of the 7 multiples of the polynomial, for every key alike; with a hash, a wrong word slips
// through for one key in 256 on average and for more with some keys. It can also be worked out
// with a few lines of any language when the phrase is recovered without this program.
quint8 RecoveryPhrase::checksum(const QByteArray& keyBytes) {
    quint8 crc = 0;
    for (const char byte : keyBytes) {
        crc ^= static_cast<quint8>(byte);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80) ? static_cast<quint8>((crc << 1) ^ 0x1d) : static_cast<quint8>(crc << 1);
        }
    }
    return crc;
}

QStringList RecoveryPhrase::words(const HistoryKey& key) {
    QByteArray bits = key.bytes();
    bits.append(static_cast<char>(checksum(key.bytes())));
    QStringList words;
    for (int position = 0; position < wordCount; ++position) {
        words << WordList::word(wordBits::read(bits, position));
    }
    bits.fill('\0');
    return words;
}

QString RecoveryPhrase::text(const HistoryKey& key) {
    return words(key).join(QLatin1Char(' '));
}

RecoveryPhrase::Parsed RecoveryPhrase::parse(const QString& typed) {
    Parsed parsed;
    // Words are the runs of letters; numbers and punctuation only separate them. The input is
    // bounded before it is scanned, since a paste may be anything.
    static const QRegularExpression letters(QStringLiteral("\\p{L}+"));
    QStringList tokens;
    for (auto match = letters.globalMatch(QStringView(typed).left(4096)); match.hasNext();) {
        tokens << match.next().captured().toLower();
        if (tokens.size() > wordCount) {
            break;
        }
    }
    if (tokens.size() != wordCount) {
        parsed.problem = Problem::wrongCount;
        parsed.reason =
            tokens.size() > wordCount
                ? QStringLiteral("A recovery phrase has 24 words; this has more.")
                : QStringLiteral("A recovery phrase has 24 words; this has %1.").arg(tokens.size());
        return parsed;
    }
    QByteArray bits(HistoryKey::size + 1, '\0');
    for (int position = 0; position < wordCount; ++position) {
        const int index = WordList::indexOf(tokens[position]);
        if (index < 0) {
            parsed.problem = Problem::unknownWord;
            parsed.word = tokens[position];
            parsed.position = position + 1;
            parsed.suggestions = WordList::nearest(tokens[position]);
            parsed.reason = QStringLiteral("Word %1, “%2”, is not a recovery word. Did you mean %3?")
                                .arg(parsed.position)
                                .arg(parsed.word, parsed.suggestions.join(QStringLiteral(", ")));
            return parsed;
        }
        wordBits::write(bits, position, index);
    }
    QByteArray keyBytes = bits.left(HistoryKey::size);
    if (checksum(keyBytes) != static_cast<quint8>(bits[HistoryKey::size])) {
        parsed.problem = Problem::checksum;
        parsed.reason = QStringLiteral("These words are not a recovery phrase: one of them is mistyped or "
                                       "out of place. Check each word against the phrase you kept.");
    } else {
        parsed.key = HistoryKey::fromBytes(keyBytes);
    }
    keyBytes.fill('\0');
    bits.fill('\0');
    return parsed;
}

} // namespace snipjar::crypto
