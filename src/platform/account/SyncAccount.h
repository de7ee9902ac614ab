#pragma once

#include "platform/account/PasswordVault.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace snipjar {

// What a connection to the sync server is made with. Without a password libpq looks into the
// password file (~/.pgpass, PGPASSFILE) and applies a service named in the URI (service=, from
// ~/.pg_service.conf) by itself.
struct SyncCredentials {
    QString connectionURI;
    std::optional<QString> password;

    bool operator==(const SyncCredentials&) const = default;
};

// Why the history is not being synced.
enum class SyncOffReason {
    switchedOff,   // "syncEnabled" is false
    noServer,      // "syncServer" is absent or blank
    invalidServer, // "syncServer" is not a connection string libpq accepts
};

// The user's sync account: the server, a libpq connection URI under "syncServer" in the settings,
// and its password in the keyring, filed under the application identifier and a key made of the
// URI's user and host ("alice@sync.example.org"). Main thread only; every callback is called on
// the main thread, on a later turn of the event loop, and not at all once its receiver (which must
// not be null) is gone.
class SyncAccount {
public:
    // The keyring of the desktop session.
    SyncAccount();
    explicit SyncAccount(std::unique_ptr<PasswordVault> vault);
    ~SyncAccount();
    SyncAccount(const SyncAccount&) = delete;
    SyncAccount& operator=(const SyncAccount&) = delete;

    // Why libpq does not accept the connection string, as a sentence; none when it does.
    static std::optional<QString> serverProblem(const QString& connectionURI);
    // The keyring key of the account: the URI's user (libpq's default, the login name, when it
    // names none) and host ("localhost" when it names none); none when the URI does not parse.
    static std::optional<QString> passwordKey(const QString& connectionURI);
    // The server from the settings when one is set and parses.
    static std::optional<QString> configuredServer();
    // Why sync is off by the settings now; none when it may run.
    static std::optional<SyncOffReason> offReason();
    // "Sync is off: no server is set." and the like.
    static QString offReasonText(SyncOffReason reason);

    // The account of the configured server with the password from the keyring, if it holds one;
    // none when no valid server is set. A keyring that cannot be asked counts as one without the
    // password.
    void readCredentials(QObject* receiver, std::function<void(std::optional<SyncCredentials>)> done);
    // What the keyring holds for the server's user and host.
    void readPassword(const QString& connectionURI, QObject* receiver,
                      std::function<void(PasswordVault::Lookup)> done);
    // false also when the URI does not parse.
    void storePassword(const QString& connectionURI, const QString& password, QObject* receiver,
                       std::function<void(bool)> done);
    void deletePassword(const QString& connectionURI, QObject* receiver, std::function<void(bool)> done);

private:
    std::unique_ptr<PasswordVault> vault;
};

} // namespace snipjar
