#include "platform/account/SyncAccount.h"

#include "platform/AppIdentity.h"
#include "platform/LogCategories.h"
#include "platform/UserSettings.h"
#include "platform/account/KeychainPasswordVault.h"

#include <QLibrary>
#include <QPointer>
#include <QTimer>

#include <variant>

#include <libpq-fe.h>

#include <pwd.h>
#include <unistd.h>

namespace snipjar {

namespace {

struct ParsedConnection {
    QString user;
    QString host;
};

// libpq's reader of connection strings. libpq is loaded when a string is first read rather than
// linked: it and the fifteen libraries it needs would otherwise be loaded at every start, while
// only a start with sync on reads the server's address.
struct ConnectionStringReader {
    decltype(&PQconninfoParse) parse = nullptr;
    decltype(&PQconninfoFree) freeOptions = nullptr;
    decltype(&PQfreemem) freeMemory = nullptr;

    static const ConnectionStringReader& loaded() {
        static const ConnectionStringReader reader = [] {
            ConnectionStringReader found;
            // Never unloaded, like any library the process links.
            auto* library = new QLibrary(QStringLiteral("pq"), 5);
            found.parse = reinterpret_cast<decltype(&PQconninfoParse)>(library->resolve("PQconninfoParse"));
            found.freeOptions =
                reinterpret_cast<decltype(&PQconninfoFree)>(library->resolve("PQconninfoFree"));
            found.freeMemory = reinterpret_cast<decltype(&PQfreemem)>(library->resolve("PQfreemem"));
            if (!found.parse || !found.freeOptions || !found.freeMemory) {
                qCCritical(lcSync).noquote() << "libpq cannot be loaded:" << library->errorString();
                found = {};
            }
            return found;
        }();
        return reader;
    }
};

// The fields libpq reads from the string; the reason it gives when it refuses it.
std::variant<ParsedConnection, QString> parseConnection(const QString& connectionURI) {
    if (connectionURI.trimmed().isEmpty()) {
        return QStringLiteral("No server is set.");
    }
    const ConnectionStringReader& libpq = ConnectionStringReader::loaded();
    if (!libpq.parse) {
        return QStringLiteral("The PostgreSQL client library (libpq) is not installed.");
    }
    char* error = nullptr;
    PQconninfoOption* options = libpq.parse(connectionURI.toUtf8().constData(), &error);
    if (!options) {
        QString reason = error ? QString::fromUtf8(error).trimmed() : QStringLiteral("out of memory");
        libpq.freeMemory(error);
        if (!reason.isEmpty()) {
            reason[0] = reason[0].toUpper();
        }
        if (!reason.endsWith(QLatin1Char('.'))) {
            reason += QLatin1Char('.');
        }
        return reason;
    }
    ParsedConnection parsed;
    for (const PQconninfoOption* option = options; option->keyword; ++option) {
        if (!option->val) {
            continue;
        }
        if (qstrcmp(option->keyword, "user") == 0) {
            parsed.user = QString::fromUtf8(option->val);
        } else if (qstrcmp(option->keyword, "host") == 0) {
            parsed.host = QString::fromUtf8(option->val);
        }
    }
    libpq.freeOptions(options);
    return parsed;
}

// libpq's own default user: PGUSER, else the login name.
QString defaultUser() {
    const QString fromEnvironment = qEnvironmentVariable("PGUSER");
    if (!fromEnvironment.isEmpty()) {
        return fromEnvironment;
    }
    if (const passwd* entry = ::getpwuid(::geteuid())) {
        return QString::fromLocal8Bit(entry->pw_name);
    }
    return QString();
}

// Runs done only while the receiver lives.
template <typename... Args>
std::function<void(Args...)> guarded(QObject* receiver, std::function<void(Args...)> done) {
    return [guard = QPointer<QObject>(receiver), done = std::move(done)](Args... args) {
        if (guard && done) {
            done(std::move(args)...);
        }
    };
}

// Answers on the next turn of the event loop, as an answer from the keyring would come.
template <typename Value> void answerLater(QObject* receiver, std::function<void(Value)> done, Value value) {
    QTimer::singleShot(0, receiver, [done = std::move(done), value = std::move(value)]() mutable {
        if (done) {
            done(std::move(value));
        }
    });
}

} // namespace

SyncAccount::SyncAccount()
    : SyncAccount(std::make_unique<KeychainPasswordVault>(AppIdentity::identifier())) {}

SyncAccount::SyncAccount(std::unique_ptr<PasswordVault> vault)
    : vault(std::move(vault)) {}

SyncAccount::~SyncAccount() = default;

std::optional<QString> SyncAccount::serverProblem(const QString& connectionURI) {
    auto parsed = parseConnection(connectionURI);
    if (auto* reason = std::get_if<QString>(&parsed)) {
        return *reason;
    }
    return std::nullopt;
}

std::optional<QString> SyncAccount::passwordKey(const QString& connectionURI) {
    auto parsed = parseConnection(connectionURI);
    auto* connection = std::get_if<ParsedConnection>(&parsed);
    if (!connection) {
        return std::nullopt;
    }
    const QString user = connection->user.isEmpty() ? defaultUser() : connection->user;
    const QString host = connection->host.isEmpty() ? QStringLiteral("localhost") : connection->host;
    return user + QLatin1Char('@') + host;
}

std::optional<QString> SyncAccount::configuredServer() {
    const std::optional<QString> server = UserSettings::syncServer();
    if (!server || serverProblem(*server)) {
        return std::nullopt;
    }
    return server;
}

std::optional<SyncOffReason> SyncAccount::offReason() {
    if (!UserSettings::syncEnabled()) {
        return SyncOffReason::switchedOff;
    }
    const std::optional<QString> server = UserSettings::syncServer();
    if (!server) {
        return SyncOffReason::noServer;
    }
    if (serverProblem(*server)) {
        return SyncOffReason::invalidServer;
    }
    return std::nullopt;
}

QString SyncAccount::offReasonText(SyncOffReason reason) {
    switch (reason) {
    case SyncOffReason::switchedOff:
        return QStringLiteral("Sync is off: it is switched off.");
    case SyncOffReason::noServer:
        return QStringLiteral("Sync is off: no server is set.");
    case SyncOffReason::invalidServer:
        return QStringLiteral("Sync is off: the server address is not valid.");
    }
    return QString();
}

void SyncAccount::readCredentials(QObject* receiver,
                                  std::function<void(std::optional<SyncCredentials>)> done) {
    auto answer = guarded(receiver, std::move(done));
    const std::optional<QString> server = configuredServer();
    if (!server) {
        answerLater<std::optional<SyncCredentials>>(receiver, std::move(answer), std::nullopt);
        return;
    }
    readPassword(*server, receiver, [server = *server, answer](const PasswordVault::Lookup& lookup) {
        SyncCredentials credentials{server, std::nullopt};
        if (lookup.outcome == PasswordVault::Lookup::Outcome::found) {
            credentials.password = lookup.password;
        }
        answer(credentials);
    });
}

void SyncAccount::readPassword(const QString& connectionURI, QObject* receiver,
                               std::function<void(PasswordVault::Lookup)> done) {
    auto answer = guarded(receiver, std::move(done));
    const std::optional<QString> key = passwordKey(connectionURI);
    if (!key) {
        answerLater(receiver, std::move(answer),
                    PasswordVault::Lookup{PasswordVault::Lookup::Outcome::absent, {}});
        return;
    }
    vault->read(*key, std::move(answer));
}

void SyncAccount::storePassword(const QString& connectionURI, const QString& password, QObject* receiver,
                                std::function<void(bool)> done) {
    auto answer = guarded(receiver, std::move(done));
    const std::optional<QString> key = passwordKey(connectionURI);
    if (!key) {
        answerLater(receiver, std::move(answer), false);
        return;
    }
    vault->write(*key, password, std::move(answer));
}

void SyncAccount::deletePassword(const QString& connectionURI, QObject* receiver,
                                 std::function<void(bool)> done) {
    auto answer = guarded(receiver, std::move(done));
    const std::optional<QString> key = passwordKey(connectionURI);
    if (!key) {
        answerLater(receiver, std::move(answer), false);
        return;
    }
    vault->remove(*key, std::move(answer));
}

} // namespace snipjar
