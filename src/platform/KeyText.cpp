#include "platform/KeyText.h"

#include <QString>

namespace snipjar {

namespace {

bool isHex(QStringView text) {
    for (const QChar c : text) {
        const bool digit = c >= u'0' && c <= u'9';
        const bool letter = (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (!digit && !letter) {
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<QByteArray> KeyText::decode(QStringView text, qsizetype length) {
    const QString trimmed = text.trimmed().toString();
    if (trimmed.isEmpty() || length <= 0) {
        return std::nullopt;
    }
    // Hexadecimal first: a key of hex digits only is also valid base64 of another length, and the
    // length check below tells the two apart.
    if (trimmed.size() == length * 2 && isHex(trimmed)) {
        return QByteArray::fromHex(trimmed.toLatin1());
    }
    for (const auto alphabet : {QByteArray::Base64Encoding, QByteArray::Base64UrlEncoding}) {
        const auto decoded = QByteArray::fromBase64Encoding(
            trimmed.toLatin1(), alphabet | QByteArray::AbortOnBase64DecodingErrors);
        if (decoded && decoded.decoded.size() == length) {
            return decoded.decoded;
        }
    }
    return std::nullopt;
}

} // namespace snipjar
