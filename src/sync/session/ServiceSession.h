#pragma once

#include "platform/account/SyncAccount.h"
#include "sync/cloud/service/ServiceAccount.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <variant>

namespace snipjar::sync {

// A computer's sign-in to the sync service and its sign-out. The calls block on the network: they
// run on a worker thread or in a command's own process, never on the GUI thread.
class ServiceSession {
public:
    struct SignedIn {
        SyncSignInRecord record;
        QString token;
    };
    // Why signing in did not work, as a sentence. With a fingerprint the server showed a
    // certificate the system does not trust: once the user compared the fingerprint, signing in
    // again with it trusts that certificate.
    struct Refusal {
        QString message;
        QByteArray untrustedFingerprint;
    };

    // Signs this computer in with the user's password (used for this call only, never kept) and
    // gives it its own device token, named after the computer.
    static std::variant<SignedIn, Refusal> signIn(const QString& server, const QString& user,
                                                  const QString& password, const QByteArray& trusted = {});
    // Revokes this computer's device token on the server; why not when it could not.
    static std::optional<QString> signOut(const SyncCredentials& credentials);
    // What the service client connects with.
    static cloud::ServiceAccount serviceAccount(const SyncCredentials& credentials);
    // "AB:CD:…", as certificate fingerprints are shown to be compared.
    static QString fingerprintText(const QByteArray& fingerprint);
    // The fingerprint as typed: hex digits with or without colons; empty when it is not one.
    static QByteArray parseFingerprint(const QString& text);
};

} // namespace snipjar::sync
