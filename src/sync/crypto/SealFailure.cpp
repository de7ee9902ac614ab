#include "sync/crypto/SealFailure.h"

namespace snipjar::crypto {

QString sealFailureText(SealFailure failure) {
    switch (failure) {
    case SealFailure::malformed:
        return QStringLiteral("not sealed in a known layout");
    case SealFailure::otherKey:
        return QStringLiteral("sealed with another key");
    case SealFailure::forged:
        return QStringLiteral("damaged, or moved from another record or account");
    case SealFailure::tooLarge:
        return QStringLiteral("too large");
    case SealFailure::unreadable:
        return QStringLiteral("a file could not be read or written");
    }
    return {};
}

} // namespace snipjar::crypto
