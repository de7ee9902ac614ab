#pragma once

#include "sync/crypto/HistoryKey.h"
#include "sync/crypto/SealFailure.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace snipjar::crypto {

// Seals a file into another under the history key with libsodium's secretstream, 64 KiB at a time,
// so that a large image is never whole in memory. The content is padded to a size bucket; every
// chunk is authenticated with the header and the associated data, and the stream's order and end
// are part of what is authenticated. Layout: header (version, key id), secretstream header, chunks.
class AssetSealer {
public:
    static constexpr qint64 chunkSize = 64 * 1024;

    explicit AssetSealer(const HistoryKey& key);
    ~AssetSealer();
    AssetSealer(const AssetSealer&) = delete;
    AssetSealer& operator=(const AssetSealer&) = delete;

    // Writes the sealed form of `from` to the new file `to` (0600); the reason when it could not.
    std::optional<SealFailure> seal(const QString& from, const QString& to,
                                    const QByteArray& associatedData) const;
    // Writes the content sealed in `from` to the new file `to` (0600); the reason when it could
    // not, and then `to` is gone. Content above maxBytes is refused before it is read.
    std::optional<SealFailure> open(const QString& from, const QString& to, const QByteArray& associatedData,
                                    qint64 maxBytes) const;

    // The size of the sealed file of `size` bytes of content.
    static qint64 sealedSize(qint64 size);
    // The key id named by a sealed file's first bytes; none when they are not a sealed file's.
    static std::optional<QString> keyIdOf(const QString& path);

private:
    QByteArray header;
    QByteArray subkey;
};

} // namespace snipjar::crypto
