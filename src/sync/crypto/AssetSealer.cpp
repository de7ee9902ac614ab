#include "sync/crypto/AssetSealer.h"

#include "sync/crypto/SealHeader.h"
#include "sync/crypto/SizeBuckets.h"

#include <QFile>

#include <sodium.h>

#include <vector>

namespace snipjar::crypto {

namespace {

constexpr qint64 streamHeaderSize = crypto_secretstream_xchacha20poly1305_HEADERBYTES;
constexpr qint64 chunkOverhead = crypto_secretstream_xchacha20poly1305_ABYTES;

bool createPrivate(QFile& file) {
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace

AssetSealer::AssetSealer(const HistoryKey& key)
    : header(SealHeader::of(key))
    , subkey(key.derive(HistoryKey::Purpose::assets, crypto_secretstream_xchacha20poly1305_KEYBYTES)) {}

AssetSealer::~AssetSealer() {
    sodium_memzero(subkey.data(), size_t(subkey.size()));
}

qint64 AssetSealer::sealedSize(qint64 size) {
    const qint64 padded = paddedSize(size + 1);
    const qint64 chunks = (padded + chunkSize - 1) / chunkSize;
    return SealHeader::size + streamHeaderSize + padded + chunks * chunkOverhead;
}

std::optional<QString> AssetSealer::keyIdOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return SealHeader::keyIdOf(file.read(SealHeader::size));
}

std::optional<SealFailure> AssetSealer::seal(const QString& from, const QString& to,
                                             const QByteArray& associatedData) const {
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !createPrivate(out)) {
        return SealFailure::unreadable;
    }
    const qint64 contentSize = in.size();
    const qint64 total = paddedSize(contentSize + 1);
    crypto_secretstream_xchacha20poly1305_state state;
    unsigned char streamHeader[streamHeaderSize];
    crypto_secretstream_xchacha20poly1305_init_push(&state, streamHeader, bytesOf(subkey));
    const QByteArray authenticated = header + associatedData;
    bool ok = out.write(header) == header.size() &&
              out.write(reinterpret_cast<const char*>(streamHeader), streamHeaderSize) == streamHeaderSize;
    std::vector<unsigned char> plain(chunkSize);
    std::vector<unsigned char> sealed(chunkSize + chunkOverhead);
    qint64 position = 0;
    qint64 contentRead = 0;
    bool markerWritten = false;
    while (ok && position < total) {
        const qint64 length = std::min(chunkSize, total - position);
        qint64 filled = 0;
        if (contentRead < contentSize) {
            const qint64 want = std::min(length, contentSize - contentRead);
            filled = in.read(reinterpret_cast<char*>(plain.data()), want);
            if (filled != want) {
                // The file shrank while it was read, or could not be read.
                ok = false;
                break;
            }
            contentRead += filled;
        }
        std::fill(plain.begin() + filled, plain.begin() + length, 0);
        if (!markerWritten && filled < length) {
            plain[size_t(filled)] = padMarker;
            markerWritten = true;
        }
        position += length;
        const unsigned char tag = position == total ? crypto_secretstream_xchacha20poly1305_TAG_FINAL : 0;
        unsigned long long written = 0;
        crypto_secretstream_xchacha20poly1305_push(&state, sealed.data(), &written, plain.data(), length,
                                                   bytesOf(authenticated), authenticated.size(), tag);
        ok = out.write(reinterpret_cast<const char*>(sealed.data()), qint64(written)) == qint64(written);
    }
    sodium_memzero(plain.data(), plain.size());
    // A file that grew while it was read would be sealed cut short.
    ok = ok && in.read(1).isEmpty() && out.flush();
    if (!ok) {
        out.remove();
        return SealFailure::unreadable;
    }
    return std::nullopt;
}

std::optional<SealFailure> AssetSealer::open(const QString& from, const QString& to,
                                             const QByteArray& associatedData, qint64 maxBytes) const {
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) {
        return SealFailure::unreadable;
    }
    const qint64 size = in.size();
    if (size > sealedSize(maxBytes)) {
        return SealFailure::tooLarge;
    }
    const QByteArray start = in.read(SealHeader::size + streamHeaderSize);
    if (start.size() < SealHeader::size + streamHeaderSize || start[0] != SealHeader::version) {
        return SealFailure::malformed;
    }
    if (!start.startsWith(header)) {
        return SealFailure::otherKey;
    }
    crypto_secretstream_xchacha20poly1305_state state;
    if (crypto_secretstream_xchacha20poly1305_init_pull(&state, bytesOf(start) + SealHeader::size,
                                                        bytesOf(subkey)) != 0) {
        return SealFailure::malformed;
    }
    QFile out(to);
    if (!createPrivate(out)) {
        return SealFailure::unreadable;
    }
    const auto fail = [&out](SealFailure why) -> std::optional<SealFailure> {
        out.remove();
        return why;
    };
    const QByteArray authenticated = header + associatedData;
    std::vector<unsigned char> sealed(chunkSize + chunkOverhead);
    std::vector<unsigned char> plain(chunkSize);
    qint64 position = 0;
    qint64 contentEnd = -1; // the position just after the last non-zero byte seen
    unsigned char lastNonZero = 0;
    for (bool final = false; !final;) {
        const qint64 got = in.read(reinterpret_cast<char*>(sealed.data()), qint64(sealed.size()));
        if (got <= chunkOverhead) {
            return fail(got < 0 ? SealFailure::unreadable : SealFailure::forged);
        }
        unsigned long long length = 0;
        unsigned char tag = 0;
        if (crypto_secretstream_xchacha20poly1305_pull(&state, plain.data(), &length, &tag, sealed.data(),
                                                       size_t(got), bytesOf(authenticated),
                                                       authenticated.size()) != 0) {
            return fail(SealFailure::forged);
        }
        final = tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL;
        // Only the last chunk may be short; bytes after it were added.
        if ((!final && qint64(length) != chunkSize) || (final && !in.atEnd())) {
            return fail(SealFailure::forged);
        }
        for (qint64 i = qint64(length) - 1; i >= 0; --i) {
            if (plain[size_t(i)] != 0) {
                contentEnd = position + i;
                lastNonZero = plain[size_t(i)];
                break;
            }
        }
        if (out.write(reinterpret_cast<const char*>(plain.data()), qint64(length)) != qint64(length)) {
            return fail(SealFailure::unreadable);
        }
        position += qint64(length);
    }
    sodium_memzero(plain.data(), plain.size());
    if (contentEnd < 0 || lastNonZero != padMarker) {
        return fail(SealFailure::malformed);
    }
    if (!out.flush() || !out.resize(contentEnd)) {
        return fail(SealFailure::unreadable);
    }
    return std::nullopt;
}

} // namespace snipjar::crypto
