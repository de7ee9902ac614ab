#include "sync/crypto/HistoryKey.h"

#include <sodium.h>

#include <cstdlib>

namespace snipjar::crypto {
namespace {

// The derivation context of every subkey: eight bytes, the same for all purposes.
constexpr char derivationContext[crypto_kdf_CONTEXTBYTES + 1] = "snipjar1";

void initialiseSodium() {
    // sodium_init is safe to call from any thread any number of times; it fails only when the
    // system offers no randomness, with which no key may be made.
    if (sodium_init() < 0) {
        std::abort();
    }
}

} // namespace

HistoryKey::~HistoryKey() {
    sodium_memzero(secret.data(), secret.size());
}

HistoryKey HistoryKey::generate() {
    initialiseSodium();
    HistoryKey key;
    crypto_kdf_keygen(key.secret.data());
    return key;
}

std::optional<HistoryKey> HistoryKey::fromBytes(const QByteArray& bytes) {
    if (bytes.size() != size) {
        return std::nullopt;
    }
    initialiseSodium();
    HistoryKey key;
    std::copy(bytes.begin(), bytes.end(), key.secret.begin());
    return key;
}

QByteArray HistoryKey::bytes() const {
    return QByteArray(reinterpret_cast<const char*>(secret.data()), size);
}

QByteArray HistoryKey::derive(Purpose purpose, int length) const {
    QByteArray subkey(qBound(int(crypto_kdf_BYTES_MIN), length, int(crypto_kdf_BYTES_MAX)),
                      Qt::Uninitialized);
    crypto_kdf_derive_from_key(reinterpret_cast<unsigned char*>(subkey.data()), subkey.size(),
                               static_cast<quint64>(purpose), derivationContext, secret.data());
    return subkey;
}

QString HistoryKey::id() const {
    // Eight bytes of a hash keyed with the verifier subkey: public, stable, and useless for
    // guessing the key.
    const QByteArray verifierKey = derive(Purpose::verifier);
    unsigned char digest[8];
    static constexpr char label[] = "history key id";
    crypto_generichash(digest, sizeof(digest), reinterpret_cast<const unsigned char*>(label),
                       sizeof(label) - 1, reinterpret_cast<const unsigned char*>(verifierKey.constData()),
                       verifierKey.size());
    return QStringLiteral("k") +
           QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(digest), sizeof(digest)).toHex());
}

QByteArray HistoryKey::verifier() const {
    const QByteArray verifierKey = derive(Purpose::verifier);
    QByteArray digest(32, Qt::Uninitialized);
    static constexpr char label[] = "history key verifier";
    crypto_generichash(reinterpret_cast<unsigned char*>(digest.data()), digest.size(),
                       reinterpret_cast<const unsigned char*>(label), sizeof(label) - 1,
                       reinterpret_cast<const unsigned char*>(verifierKey.constData()), verifierKey.size());
    return digest;
}

bool HistoryKey::operator==(const HistoryKey& other) const {
    return sodium_memcmp(secret.data(), other.secret.data(), size) == 0;
}

} // namespace snipjar::crypto
