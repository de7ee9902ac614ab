#pragma once

#include "platform/account/PasswordVault.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace snipjar {

// What this computer keeps of its sign-in to the sync service, in the settings next to the server:
// the account id and database epoch the server answered at sign-in, the user name (shown only),
// and the SHA-256 fingerprint of a self-signed server's certificate the user trusted (empty: the
// system's certificate authorities decide).
struct SyncSignInRecord {
    QString server;
    QString user;
    QString accountId;
    QString epoch;
    QByteArray fingerprint;

    bool operator==(const SyncSignInRecord&) const = default;
};

// What a connection to the sync service is made with: the sign-in and the device token from the
// keyring (none when this computer holds none).
struct SyncCredentials {
    SyncSignInRecord signIn;
    std::optional<QString> token;

    bool operator==(const SyncCredentials&) const = default;
};

// Why the history is not being synced.
enum class SyncOffReason {
    switchedOff,   // "syncEnabled" is false
    noServer,      // "syncServer" is absent or blank
    invalidServer, // "syncServer" is not an https:// address (or http:// on this computer)
    notSignedIn,   // this computer has not signed in to the server in "syncServer"
};

// The user's sync account: the service's address under "syncServer" in the settings, the sign-in
// kept with it, and the device token in the keyring, filed under the application identifier and a
// key made of the server's host and port ("device@sync.example.org:443"). Where no keyring can be
// asked, the token is kept in a private file (0600) of the configuration folder instead. Main
// thread only; every callback is called on the main thread, on a later turn of the event loop, and
// not at all once its receiver (which must not be null) is gone.
class SyncAccount {
public:
    // The keyring of the desktop session.
    SyncAccount();
    explicit SyncAccount(std::unique_ptr<PasswordVault> vault);
    ~SyncAccount();
    SyncAccount(const SyncAccount&) = delete;
    SyncAccount& operator=(const SyncAccount&) = delete;

    // Why the address is not one of a sync service, as a sentence; none when it is. Plain http is
    // accepted on the loopback address only, where nobody can listen in.
    static std::optional<QString> serverProblem(const QString& address);
    // The address as it is kept: scheme, host, port and path, without a trailing slash.
    static std::optional<QUrl> serverURL(const QString& address);
    // The keyring key of the server's device token; none when the address is not accepted.
    static std::optional<QString> tokenKey(const QString& address);
    // The server from the settings when one is set and is accepted.
    static std::optional<QString> configuredServer();
    // The sign-in kept for the configured server; none when the computer signed in elsewhere or
    // never.
    static std::optional<SyncSignInRecord> signedIn();
    // Keeps a sign-in, and makes its server the configured one.
    static void recordSignIn(const SyncSignInRecord& record);
    static void forgetSignIn();
    // Why sync is off by the settings now; none when it may run.
    static std::optional<SyncOffReason> offReason();
    // "Sync is off: no server is set." and the like.
    static QString offReasonText(SyncOffReason reason);

    // The sign-in with the device token from the keyring, if it holds one; none when the
    // configured server has no sign-in.
    void readCredentials(QObject* receiver, std::function<void(std::optional<SyncCredentials>)> done);
    // What the keyring (or the private file where there is no keyring) holds for the server.
    void readToken(const QString& server, QObject* receiver, std::function<void(PasswordVault::Lookup)> done);
    // false also when the address is not accepted.
    void storeToken(const QString& server, const QString& token, QObject* receiver,
                    std::function<void(bool)> done);
    void deleteToken(const QString& server, QObject* receiver, std::function<void(bool)> done);

private:
    std::unique_ptr<PasswordVault> vault;
};

} // namespace snipjar
