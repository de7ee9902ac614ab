#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

namespace snipjar::crypto {

// The one key of an account's encrypted history: 32 random bytes made on the first computer,
// which reach other computers only through a recovery phrase or a pairing, never the server in the
// clear. Every key the encryption uses is derived from it, one per purpose. The bytes are wiped
// when the object goes.
class HistoryKey {
public:
    static constexpr int size = 32;

    // Subkey purposes; each derives its own key, so that one never serves two purposes.
    enum class Purpose : quint64 {
        values = 1,      // record field values
        assets = 2,      // asset files
        contentHash = 3, // keyed hashes of content that other computers compare (dedup keys)
        deviceHash = 4,  // keyed hashes of device identities
        verifier = 5,    // what tells a candidate key right or wrong without revealing it
    };

    HistoryKey(const HistoryKey& other) = default;
    HistoryKey& operator=(const HistoryKey& other) = default;
    ~HistoryKey();

    // A new random key.
    static HistoryKey generate();
    // The key of these bytes; none unless exactly `size` bytes.
    static std::optional<HistoryKey> fromBytes(const QByteArray& bytes);

    // The secret bytes themselves, for keeping the key (keyring, sealed file, pairing).
    QByteArray bytes() const;
    // A short public name of the key ("k" and 16 hex digits), derived one way from it: tells which
    // key sealed a value, and whether two computers hold the same key, without revealing it.
    QString id() const;
    // A key of `length` bytes (16 to 64) for one purpose.
    QByteArray derive(Purpose purpose, int length = 32) const;
    // A value the server may keep to tell whether a candidate key is the account's.
    QByteArray verifier() const;

    bool operator==(const HistoryKey& other) const;

private:
    HistoryKey() = default;
    std::array<unsigned char, size> secret{};
};

} // namespace snipjar::crypto
