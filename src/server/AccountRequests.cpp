#include "server/AccountRequests.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace snipjar::server::account_requests {

namespace {

std::optional<QJsonObject> objectOf(const QByteArray& body, const char*& refusal) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        refusal = "the request is not a JSON object";
        return std::nullopt;
    }
    return document.object();
}

// Standard base64 only; anything else (or a value that is not a string) is none.
std::optional<QByteArray> base64Of(const QJsonValue& value) {
    if (!value.isString()) {
        return std::nullopt;
    }
    const auto decoded =
        QByteArray::fromBase64Encoding(value.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        return std::nullopt;
    }
    return *decoded;
}

} // namespace

bool isKeyId(const std::string& id) {
    return !id.empty() && id.size() <= largestKeyId &&
           std::all_of(id.begin(), id.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

bool isMailboxName(const std::string& name) {
    return name.size() >= 16 && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_';
           });
}

bool isSlotName(const std::string& name) {
    return !name.empty() && name.size() <= 16 &&
           std::all_of(name.begin(), name.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

std::optional<EncryptionChange> parseEncryptionChange(const QByteArray& body, const char*& refusal) {
    const auto object = objectOf(body, refusal);
    if (!object) {
        return std::nullopt;
    }
    EncryptionChange change;
    const QJsonValue previous = object->value("previous");
    if (previous.isString()) {
        change.previous = previous.toString().toStdString();
        if (!isKeyId(*change.previous)) {
            refusal = "the previous key id is not one";
            return std::nullopt;
        }
    } else if (!previous.isNull() && !previous.isUndefined()) {
        refusal = "the previous key id is not one";
        return std::nullopt;
    }
    change.keyId = object->value("keyId").toString().toStdString();
    if (!isKeyId(change.keyId)) {
        refusal = "the key id must be 1 to 64 printable characters";
        return std::nullopt;
    }
    const auto verifier = base64Of(object->value("verifier"));
    if (!verifier || verifier->size() < smallestVerifier || verifier->size() > largestVerifier) {
        refusal = "the verifier must be 16 to 64 bytes in base64";
        return std::nullopt;
    }
    change.verifier = *verifier;
    return change;
}

std::optional<QByteArray> parseSlotBody(const QByteArray& body, const char*& refusal) {
    const auto object = objectOf(body, refusal);
    if (!object) {
        return std::nullopt;
    }
    const auto bytes = base64Of(object->value("body"));
    if (!bytes || bytes->isEmpty() || bytes->size() > largestSlotBody) {
        refusal = "a slot holds 1 to 4096 bytes in base64";
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::string> parsePassword(const QByteArray& body, const char*& refusal) {
    const auto object = objectOf(body, refusal);
    if (!object) {
        return std::nullopt;
    }
    const QJsonValue password = object->value("password");
    const std::string text = password.toString().toStdString();
    if (!password.isString() || text.size() > largestPassword) {
        refusal = "the password is missing or too long";
        return std::nullopt;
    }
    return text;
}

} // namespace snipjar::server::account_requests
