#include "platform/account/SealedKeyFile.h"

#include "platform/account/HistoryKeyVault.h"

#include <QtEndian>

#include <sodium.h>

namespace snipjar::crypto {
namespace {

constexpr char magic[8] = {'S', 'J', 'H', 'K', 'E', 'Y', 0, 1};
constexpr int costsAt = 8;
constexpr int saltAt = costsAt + 16;
constexpr int nonceAt = saltAt + crypto_pwhash_SALTBYTES;
constexpr int sealedAt = nonceAt + crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr int sealedSize = HistoryKey::size + crypto_aead_xchacha20poly1305_ietf_ABYTES;
constexpr int digestAt = sealedAt + sealedSize;
constexpr int digestSize = 16;
static_assert(digestAt + digestSize == SealedKeyFile::fileSize);

auto bytesOf(QByteArray& bytes, int at = 0) {
    return reinterpret_cast<unsigned char*>(bytes.data()) + at;
}
auto bytesOf(const QByteArray& bytes, int at = 0) {
    return reinterpret_cast<const unsigned char*>(bytes.constData()) + at;
}

QByteArray digestOf(const QByteArray& file) {
    QByteArray digest(digestSize, '\0');
    crypto_generichash(bytesOf(digest), digestSize, bytesOf(file), digestAt, nullptr, 0);
    return digest;
}

// The seal's key from the passphrase; empty when Argon2id could not run (too little memory).
QByteArray stretch(const QString& passphrase, const QByteArray& header, quint64 operations,
                   quint64 memoryBytes) {
    QByteArray secret(crypto_aead_xchacha20poly1305_ietf_KEYBYTES, '\0');
    QByteArray utf8 = passphrase.toUtf8();
    const int status =
        crypto_pwhash(bytesOf(secret), quint64(secret.size()), utf8.constData(), quint64(utf8.size()),
                      bytesOf(header, saltAt), operations, size_t(memoryBytes), crypto_pwhash_ALG_ARGON2ID13);
    sodium_memzero(utf8.data(), size_t(utf8.size()));
    if (status != 0) {
        sodium_memzero(secret.data(), size_t(secret.size()));
        return {};
    }
    return secret;
}

QByteArray associatedData(const QByteArray& file, const QString& account) {
    return file.left(sealedAt) + account.toUtf8();
}

} // namespace

QByteArray SealedKeyFile::seal(const HistoryKey& key, const QString& account, const QString& passphrase,
                               quint64 operations, quint64 memoryBytes) {
    if (sodium_init() < 0) {
        return {};
    }
    QByteArray file(fileSize, '\0');
    std::copy(std::begin(magic), std::end(magic), file.begin());
    qToBigEndian(operations, bytesOf(file, costsAt));
    qToBigEndian(memoryBytes, bytesOf(file, costsAt + 8));
    randombytes_buf(bytesOf(file, saltAt), crypto_pwhash_SALTBYTES);
    randombytes_buf(bytesOf(file, nonceAt), crypto_aead_xchacha20poly1305_ietf_NPUBBYTES);
    QByteArray secret = stretch(passphrase, file, operations, memoryBytes);
    if (secret.isEmpty()) {
        return {};
    }
    QByteArray plain = key.bytes();
    const QByteArray data = associatedData(file, account);
    crypto_aead_xchacha20poly1305_ietf_encrypt(bytesOf(file, sealedAt), nullptr, bytesOf(plain),
                                               quint64(plain.size()), bytesOf(data), quint64(data.size()),
                                               nullptr, bytesOf(file, nonceAt), bytesOf(secret));
    sodium_memzero(plain.data(), size_t(plain.size()));
    sodium_memzero(secret.data(), size_t(secret.size()));
    const QByteArray digest = digestOf(file);
    std::copy(digest.begin(), digest.end(), file.begin() + digestAt);
    return file;
}

SealedKeyFile::Opened SealedKeyFile::open(const QByteArray& file, const QString& account,
                                          const QString& passphrase, std::optional<HistoryKey>& key) {
    key.reset();
    if (sodium_init() < 0 || file.size() != fileSize || !file.startsWith(QByteArray(magic, sizeof magic)) ||
        sodium_memcmp(bytesOf(digestOf(file)), bytesOf(file, digestAt), digestSize) != 0) {
        return Opened::damaged;
    }
    const auto operations = qFromBigEndian<quint64>(bytesOf(file, costsAt));
    const auto memoryBytes = qFromBigEndian<quint64>(bytesOf(file, costsAt + 8));
    if (operations < crypto_pwhash_OPSLIMIT_MIN || operations > HistoryKeyVault::maxOperations ||
        memoryBytes < crypto_pwhash_MEMLIMIT_MIN || memoryBytes > HistoryKeyVault::maxMemoryBytes) {
        return Opened::damaged;
    }
    QByteArray secret = stretch(passphrase, file, operations, memoryBytes);
    if (secret.isEmpty()) {
        return Opened::damaged;
    }
    QByteArray plain(HistoryKey::size, '\0');
    const QByteArray data = associatedData(file, account);
    const int status = crypto_aead_xchacha20poly1305_ietf_decrypt(
        bytesOf(plain), nullptr, nullptr, bytesOf(file, sealedAt), sealedSize, bytesOf(data),
        quint64(data.size()), bytesOf(file, nonceAt), bytesOf(secret));
    sodium_memzero(secret.data(), size_t(secret.size()));
    if (status == 0) {
        key = HistoryKey::fromBytes(plain);
    }
    sodium_memzero(plain.data(), size_t(plain.size()));
    return key ? Opened::key : Opened::wrongPassphrase;
}

} // namespace snipjar::crypto
