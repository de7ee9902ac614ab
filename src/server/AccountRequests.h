#pragma once

#include <QByteArray>

#include <cstddef>
#include <optional>
#include <string>

namespace snipjar::server {

// The bodies and names of the account's encryption and pairing calls, checked before anything
// reaches the database: whatever a client sends, what passes is bounded and well formed.
namespace account_requests {

constexpr std::size_t largestKeyId = 64;
constexpr int smallestVerifier = 16;
constexpr int largestVerifier = 64;
constexpr int largestSlotBody = 4096;
constexpr std::size_t largestPassword = 4096;

// A compare-and-set of the account's encryption state: from `previous` (none: encryption was off)
// to the key `keyId` with its verifier.
struct EncryptionChange {
    std::optional<std::string> previous;
    std::string keyId;
    QByteArray verifier;
};

// Key ids are short printable ASCII (no spaces), as they appear in logs and answers.
bool isKeyId(const std::string& id);
// Mailbox names are hashes in hex or base64url (16 to 64 characters); slot names 1 to 16 lowercase
// letters.
bool isMailboxName(const std::string& name);
bool isSlotName(const std::string& name);

// Each parser answers the value, or none with `refusal` set to the sentence to send back.
std::optional<EncryptionChange> parseEncryptionChange(const QByteArray& body, const char*& refusal);
std::optional<QByteArray> parseSlotBody(const QByteArray& body, const char*& refusal);
std::optional<std::string> parsePassword(const QByteArray& body, const char*& refusal);

} // namespace account_requests
} // namespace snipjar::server
