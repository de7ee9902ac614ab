#include "sync/crypto/SealHeader.h"

namespace snipjar::crypto {

QByteArray SealHeader::of(const HistoryKey& key) {
    return QByteArray(1, version) + QByteArray::fromHex(key.id().mid(1).toLatin1());
}

std::optional<QString> SealHeader::keyIdOf(const QByteArray& sealed) {
    if (sealed.size() < size || sealed[0] != version) {
        return std::nullopt;
    }
    return QStringLiteral("k") + QString::fromLatin1(sealed.mid(1, size - 1).toHex());
}

} // namespace snipjar::crypto
