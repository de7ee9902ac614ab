#include "platform/account/SyncAccount.h"

#include "platform/AppIdentity.h"
#include "platform/AppPaths.h"
#include "platform/LogCategories.h"
#include "platform/PrivateFiles.h"
#include "platform/UserSettings.h"
#include "platform/account/KeychainPasswordVault.h"

#include <QFile>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>

namespace snipjar {

namespace {

const char* const signedInToKey = "syncSignedInTo";
const char* const userKey = "syncUser";
const char* const accountIdKey = "syncAccountId";
const char* const epochKey = "syncEpoch";
const char* const fingerprintKey = "syncFingerprint";

// A token never spans lines and is far shorter; anything else in the file is not one.
constexpr qsizetype largestTokenFile = 4096;

QString stringSetting(const char* key) {
    const auto stored = UserSettings::value(QString::fromLatin1(key));
    return stored ? stored->toString().trimmed() : QString();
}

bool isLoopback(const QString& host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    // 127.0.0.0/8 and ::1, as QUrl writes them (it has checked the form already).
    return host == QLatin1String("::1") ||
           (host.startsWith(QLatin1String("127.")) && host.count(QLatin1Char('.')) == 3 &&
            !host.contains(QRegularExpression(QStringLiteral("[^0-9.]"))));
}

// Where the device token is kept on a computer without a keyring: one key and its token.
QString tokenFilePath() {
    return AppPaths::configFolder() + QStringLiteral("/sync-device-token");
}

PasswordVault::Lookup readTokenFile(const QString& key) {
    QFile file(tokenFilePath());
    if (!file.open(QIODevice::ReadOnly)) {
        return {PasswordVault::Lookup::Outcome::absent, {}};
    }
    const QList<QByteArray> lines = file.read(largestTokenFile).split('\n');
    if (lines.size() < 2 || QString::fromUtf8(lines.at(0)) != key || lines.at(1).isEmpty()) {
        return {PasswordVault::Lookup::Outcome::absent, {}};
    }
    return {PasswordVault::Lookup::Outcome::found, QString::fromUtf8(lines.at(1))};
}

bool writeTokenFile(const QString& key, const QString& token) {
    return AppPaths::ensurePrivateFolder(AppPaths::configFolder()) &&
           PrivateFiles::writeFile(tokenFilePath(), key.toUtf8() + '\n' + token.toUtf8() + '\n',
                                   PrivateFiles::Durability::Synced);
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

std::optional<QString> SyncAccount::serverProblem(const QString& address) {
    const QString trimmed = address.trimmed();
    if (trimmed.isEmpty()) {
        return QStringLiteral("No server is set.");
    }
    if (trimmed.startsWith(QLatin1String("postgresql:"), Qt::CaseInsensitive) ||
        trimmed.startsWith(QLatin1String("postgres:"), Qt::CaseInsensitive)) {
        return QStringLiteral("A PostgreSQL server is no longer supported; set up snipjar-server and sign "
                              "in to it.");
    }
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasQuery() ||
        url.hasFragment()) {
        return QStringLiteral("The address is not one of a sync server, such as https://sync.example.org.");
    }
    if (url.scheme() == QLatin1String("https")) {
        return std::nullopt;
    }
    if (url.scheme() == QLatin1String("http")) {
        if (isLoopback(url.host())) {
            return std::nullopt;
        }
        return QStringLiteral("Only a server on this computer may be reached without TLS; use https://.");
    }
    return QStringLiteral("The address is not one of a sync server, such as https://sync.example.org.");
}

std::optional<QUrl> SyncAccount::serverURL(const QString& address) {
    if (serverProblem(address)) {
        return std::nullopt;
    }
    QUrl url = QUrl(address.trimmed()).adjusted(QUrl::StripTrailingSlash | QUrl::NormalizePathSegments);
    if (url.path() == QLatin1String("/")) {
        url.setPath(QString());
    }
    return url;
}

std::optional<QString> SyncAccount::tokenKey(const QString& address) {
    const std::optional<QUrl> url = serverURL(address);
    if (!url) {
        return std::nullopt;
    }
    const int port = url->port(url->scheme() == QLatin1String("https") ? 443 : 80);
    return QStringLiteral("device@%1:%2").arg(url->host()).arg(port);
}

std::optional<QString> SyncAccount::configuredServer() {
    const std::optional<QString> server = UserSettings::syncServer();
    if (!server || serverProblem(*server)) {
        return std::nullopt;
    }
    return server;
}

std::optional<SyncSignInRecord> SyncAccount::signedIn() {
    const std::optional<QString> server = configuredServer();
    if (!server || serverURL(stringSetting(signedInToKey)) != serverURL(*server)) {
        return std::nullopt;
    }
    SyncSignInRecord record{*server, stringSetting(userKey), stringSetting(accountIdKey),
                            stringSetting(epochKey),
                            QByteArray::fromHex(stringSetting(fingerprintKey).toLatin1())};
    if (record.accountId.isEmpty()) {
        return std::nullopt;
    }
    return record;
}

void SyncAccount::recordSignIn(const SyncSignInRecord& record) {
    UserSettings::setValue(QString::fromLatin1(UserSettings::syncServerKey), record.server);
    UserSettings::setValue(QString::fromLatin1(signedInToKey), record.server);
    UserSettings::setValue(QString::fromLatin1(userKey), record.user);
    UserSettings::setValue(QString::fromLatin1(accountIdKey), record.accountId);
    UserSettings::setValue(QString::fromLatin1(epochKey), record.epoch);
    UserSettings::setValue(QString::fromLatin1(fingerprintKey),
                           QString::fromLatin1(record.fingerprint.toHex()));
}

void SyncAccount::forgetSignIn() {
    for (const char* key : {signedInToKey, userKey, accountIdKey, epochKey, fingerprintKey}) {
        UserSettings::remove(QString::fromLatin1(key));
    }
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
    if (!signedIn()) {
        return SyncOffReason::notSignedIn;
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
    case SyncOffReason::notSignedIn:
        return QStringLiteral("Sync is off: this computer is not signed in to the server.");
    }
    return QString();
}

void SyncAccount::readCredentials(QObject* receiver,
                                  std::function<void(std::optional<SyncCredentials>)> done) {
    auto answer = guarded(receiver, std::move(done));
    const std::optional<SyncSignInRecord> record = signedIn();
    if (!record) {
        answerLater<std::optional<SyncCredentials>>(receiver, std::move(answer), std::nullopt);
        return;
    }
    readToken(record->server, receiver, [record = *record, answer](const PasswordVault::Lookup& lookup) {
        SyncCredentials credentials{record, std::nullopt};
        if (lookup.outcome == PasswordVault::Lookup::Outcome::found) {
            credentials.token = lookup.password;
        }
        answer(credentials);
    });
}

void SyncAccount::readToken(const QString& server, QObject* receiver,
                            std::function<void(PasswordVault::Lookup)> done) {
    auto answer = guarded(receiver, std::move(done));
    const std::optional<QString> key = tokenKey(server);
    if (!key) {
        answerLater(receiver, std::move(answer),
                    PasswordVault::Lookup{PasswordVault::Lookup::Outcome::absent, {}});
        return;
    }
    vault->read(*key, [key = *key, answer](PasswordVault::Lookup lookup) {
        if (lookup.outcome == PasswordVault::Lookup::Outcome::unavailable) {
            lookup = readTokenFile(key);
        }
        answer(std::move(lookup));
    });
}

void SyncAccount::storeToken(const QString& server, const QString& token, QObject* receiver,
                             std::function<void(bool)> done) {
    auto answer = guarded(receiver, std::move(done));
    const std::optional<QString> key = tokenKey(server);
    if (!key || token.contains(QLatin1Char('\n'))) {
        answerLater(receiver, std::move(answer), false);
        return;
    }
    vault->write(*key, token, [key = *key, token, answer](bool stored) {
        if (stored) {
            // A token kept in the file before a keyring came along is not left behind.
            QFile::remove(tokenFilePath());
        } else {
            qCWarning(lcSync) << "the keyring did not take the device token; it is kept in"
                              << tokenFilePath();
            stored = writeTokenFile(key, token);
        }
        answer(stored);
    });
}

void SyncAccount::deleteToken(const QString& server, QObject* receiver, std::function<void(bool)> done) {
    auto answer = guarded(receiver, std::move(done));
    const std::optional<QString> key = tokenKey(server);
    if (!key) {
        answerLater(receiver, std::move(answer), false);
        return;
    }
    const bool hadFile = QFile::exists(tokenFilePath());
    const bool fileGone = !hadFile || QFile::remove(tokenFilePath());
    // Without a keyring, the file was the one place the token could be.
    vault->remove(*key,
                  [answer, hadFile, fileGone](bool removed) { answer(fileGone && (removed || hadFile)); });
}

} // namespace snipjar
