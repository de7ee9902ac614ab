#pragma once

#include "sync/cloud/CloudError.h"
#include "sync/cloud/service/ServiceAccount.h"
#include "sync/cloud/service/ServiceHttp.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace snipjar::cloud {

// The account's end-to-end encryption as the server keeps it: the history key's public id and its
// verifier; an empty id while encryption is off.
struct EncryptionState {
    QString keyId;
    QByteArray verifier;

    bool enabled() const { return !keyId.isEmpty(); }
};

// The account calls of the sync service beyond its records (docs/sync-service.md): the
// encryption state, the password check and the pairing mailboxes. Every call blocks the calling
// thread (a worker's, never the GUI thread's) as ServiceCloudDatabase's do; cancel() from any
// thread ends the call in progress with operationCancelled.
class ServiceAccountCalls {
public:
    explicit ServiceAccountCalls(ServiceAccount account);

    CloudResult<EncryptionState> encryption();
    // Compare-and-set: from `previousKeyId` (empty: encryption was off) to the given key. Fails with
    // serverRecordChanged when the account's state is no longer `previousKeyId`.
    CloudStatus setEncryption(const QString& previousKeyId, const QString& keyId, const QByteArray& verifier);
    // Turns encryption off, if `keyId` is still the account's key (else serverRecordChanged).
    CloudStatus clearEncryption(const QString& keyId);
    // Whether the password is the account's: permissionFailure when wrong, limitExceeded after too
    // many wrong ones (counted with sign-in's).
    CloudStatus verifyPassword(const QString& password);

    // A new mailbox of the account, for ten minutes.
    CloudStatus openMailbox(const QString& mailbox);
    CloudStatus closeMailbox(const QString& mailbox);
    // Writes a slot once; permissionFailure when it was written already.
    CloudStatus post(const QString& mailbox, const QString& slot, const QByteArray& body);
    // A slot's body; none when it is still empty after waiting up to `waitSeconds` (at most 25).
    // unknownItem when the mailbox does not exist or expired.
    CloudResult<std::optional<QByteArray>> read(const QString& mailbox, const QString& slot, int waitSeconds);

    void cancel() { http.cancel(); }

private:
    ServiceHttp http;
};

} // namespace snipjar::cloud
