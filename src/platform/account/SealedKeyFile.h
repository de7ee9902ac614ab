#pragma once

#include "sync/crypto/HistoryKey.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace snipjar::crypto {

// The contents of a file that holds a history key sealed with a passphrase: the passphrase is
// stretched with Argon2id (its salt and costs in the file) into the key of an
// XChaCha20-Poly1305 seal, whose associated data is the file's header and the account identity,
// so that a file copied to another account, or with its costs changed, does not open. A digest
// of the whole file tells a damaged file from a wrong passphrase.
class SealedKeyFile {
public:
    // 8 magic bytes, operations and memory (8 bytes each, big-endian), salt 16, nonce 24, sealed key
    // 48, digest 16.
    static constexpr int fileSize = 128;

    enum class Opened { key, wrongPassphrase, damaged };

    static QByteArray seal(const HistoryKey& key, const QString& account, const QString& passphrase,
                           quint64 operations, quint64 memoryBytes);
    // Opens file; key is set when it returns Opened::key.
    static Opened open(const QByteArray& file, const QString& account, const QString& passphrase,
                       std::optional<HistoryKey>& key);
};

} // namespace snipjar::crypto
