#pragma once

#include "sync/crypto/HistoryKey.h"
#include "sync/crypto/SealFailure.h"

#include <QByteArray>

#include <optional>

namespace snipjar::crypto {

// Seals one value under the history key: XChaCha20-Poly1305-IETF with a fresh random nonce each
// time, the value padded to a size bucket first. Layout: header (version, key id), nonce,
// ciphertext with its tag. The associated data (what the value belongs to) is not stored: whoever
// opens names it again, and a value moved elsewhere fails to open.
class ValueSealer {
public:
    explicit ValueSealer(const HistoryKey& key);
    ~ValueSealer();
    ValueSealer(const ValueSealer&) = delete;
    ValueSealer& operator=(const ValueSealer&) = delete;

    QByteArray seal(const QByteArray& plain, const QByteArray& associatedData) const;
    // The value, or none with the reason in `failure`; sealed bytes above maxSealedBytes are not
    // looked at.
    std::optional<QByteArray> open(const QByteArray& sealed, const QByteArray& associatedData,
                                   SealFailure* failure = nullptr, qint64 maxSealedBytes = 128LL << 20) const;

    // What sealing adds to a value before padding.
    static qint64 overhead();

private:
    QByteArray header;
    QByteArray subkey;
};

} // namespace snipjar::crypto
