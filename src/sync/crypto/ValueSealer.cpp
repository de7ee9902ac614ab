#include "sync/crypto/ValueSealer.h"

#include "sync/crypto/SealHeader.h"
#include "sync/crypto/SizeBuckets.h"

#include <sodium.h>

namespace snipjar::crypto {

namespace {

constexpr int nonceSize = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr int tagSize = crypto_aead_xchacha20poly1305_ietf_ABYTES;

} // namespace

ValueSealer::ValueSealer(const HistoryKey& key)
    : header(SealHeader::of(key))
    , subkey(key.derive(HistoryKey::Purpose::values, crypto_aead_xchacha20poly1305_ietf_KEYBYTES)) {}

ValueSealer::~ValueSealer() {
    sodium_memzero(subkey.data(), size_t(subkey.size()));
}

qint64 ValueSealer::overhead() {
    return SealHeader::size + nonceSize + tagSize;
}

QByteArray ValueSealer::seal(const QByteArray& plain, const QByteArray& associatedData) const {
    // ISO/IEC 7816-4 padding (a marker byte, then zeros up to the bucket), written where the
    // ciphertext goes and encrypted in place: one buffer, and no copy of the plain value to wipe.
    const qint64 padded = paddedSize(plain.size() + 1);
    QByteArray sealed(header.size() + nonceSize + padded + tagSize, Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(sealed.data());
    std::copy(header.begin(), header.end(), out);
    unsigned char* nonce = out + header.size();
    randombytes_buf(nonce, nonceSize);
    unsigned char* body = nonce + nonceSize;
    std::copy(plain.begin(), plain.end(), body);
    body[plain.size()] = padMarker;
    std::fill(body + plain.size() + 1, body + padded, 0);
    const QByteArray authenticated = header + associatedData;
    unsigned long long written = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(body, &written, body, padded, bytesOf(authenticated),
                                               authenticated.size(), nullptr, nonce, bytesOf(subkey));
    return sealed;
}

std::optional<QByteArray> ValueSealer::open(const QByteArray& sealed, const QByteArray& associatedData,
                                            SealFailure* failure, qint64 maxSealedBytes) const {
    const auto fail = [failure](SealFailure why) -> std::optional<QByteArray> {
        if (failure != nullptr) {
            *failure = why;
        }
        return std::nullopt;
    };
    if (sealed.size() > maxSealedBytes) {
        return fail(SealFailure::tooLarge);
    }
    if (sealed.size() < overhead() + 1 || sealed[0] != SealHeader::version) {
        return fail(SealFailure::malformed);
    }
    if (!sealed.startsWith(header)) {
        return fail(SealFailure::otherKey);
    }
    const QByteArray authenticated = header + associatedData;
    const auto* nonce = bytesOf(sealed) + header.size();
    const qint64 cipherSize = sealed.size() - header.size() - nonceSize;
    QByteArray padded(cipherSize - tagSize, Qt::Uninitialized);
    unsigned long long length = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(
            reinterpret_cast<unsigned char*>(padded.data()), &length, nullptr, nonce + nonceSize, cipherSize,
            bytesOf(authenticated), authenticated.size(), nonce, bytesOf(subkey)) != 0) {
        return fail(SealFailure::forged);
    }
    qsizetype end = padded.size();
    while (end > 0 && padded[end - 1] == '\0') {
        --end;
    }
    if (end == 0 || static_cast<unsigned char>(padded[end - 1]) != padMarker) {
        return fail(SealFailure::malformed);
    }
    padded.truncate(end - 1);
    return padded;
}

} // namespace snipjar::crypto
