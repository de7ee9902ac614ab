#include "app/cli/SyncCommand.h"

#include "app/cli/InstanceClient.h"
#include "platform/UserSettings.h"
#include "platform/account/SyncAccount.h"
#include "sync/session/ServiceSession.h"

#include <QEventLoop>

#include <variant>

namespace snipjar {

namespace {

// Longer than any password a person types; a longer line is not one.
constexpr int largestPassword = 4096;

// The answer of an asynchronous keyring call, waited for in a local event loop.
template <typename Value, typename Call> Value waitFor(Call call) {
    QObject receiver;
    QEventLoop loop;
    std::optional<Value> answer;
    call(&receiver, [&](Value value) {
        answer = std::move(value);
        loop.quit();
    });
    if (!answer) {
        loop.exec();
    }
    return std::move(*answer);
}

std::optional<QString> readPassword(FILE* input) {
    char line[largestPassword + 2] = {};
    if (!std::fgets(line, sizeof line, input)) {
        return std::nullopt;
    }
    QByteArray bytes(line);
    if (bytes.endsWith('\n')) {
        bytes.chop(1);
    } else if (bytes.size() > largestPassword) {
        return std::nullopt;
    }
    if (bytes.endsWith('\r')) {
        bytes.chop(1);
    }
    std::fill(std::begin(line), std::end(line), '\0');
    return QString::fromUtf8(bytes);
}

// Tells a running Snipjar that the sign-in changed, as `config syncServer` would.
void tellRunningSnipjar() {
    CommandLine request;
    request.command = CommandLine::Command::config;
    request.settingKey = QString::fromLatin1(UserSettings::syncServerKey);
    request.settingValue = UserSettings::syncServer().value_or(QString());
    InstanceClient::send(request);
}

CommandOutcome signIn(const CommandLine& commandLine, FILE* passwordInput) {
    if (const std::optional<QString> problem = SyncAccount::serverProblem(commandLine.syncServer)) {
        return CommandOutcome::usageError(*problem);
    }
    QByteArray trusted;
    if (commandLine.trustFingerprint) {
        trusted = sync::ServiceSession::parseFingerprint(*commandLine.trustFingerprint);
        if (trusted.isEmpty()) {
            return CommandOutcome::usageError(
                QStringLiteral("--trust needs a SHA-256 fingerprint: 64 hex digits, colons optional"));
        }
    }
    const std::optional<QString> password = readPassword(passwordInput);
    if (!password || password->isEmpty()) {
        return CommandOutcome::failure(
            QStringLiteral("sign-in reads the password from standard input, one line"));
    }
    auto answer =
        sync::ServiceSession::signIn(commandLine.syncServer, commandLine.syncUser, *password, trusted);
    if (const auto* refusal = std::get_if<sync::ServiceSession::Refusal>(&answer)) {
        if (!refusal->untrustedFingerprint.isEmpty()) {
            return CommandOutcome::failure(QStringLiteral("%1; if it is, sign in again with --trust %2")
                                               .arg(refusal->message, sync::ServiceSession::fingerprintText(
                                                                          refusal->untrustedFingerprint)));
        }
        return CommandOutcome::failure(refusal->message);
    }
    const auto& signedIn = std::get<sync::ServiceSession::SignedIn>(answer);
    SyncAccount account;
    const bool stored = waitFor<bool>([&](QObject* receiver, std::function<void(bool)> done) {
        account.storeToken(signedIn.record.server, signedIn.token, receiver, std::move(done));
    });
    if (!stored) {
        return CommandOutcome::failure(QStringLiteral("the sign-in could not be kept in the keyring"));
    }
    SyncAccount::recordSignIn(signedIn.record);
    tellRunningSnipjar();
    return CommandOutcome::success(
        QStringLiteral("signed in to %1 as %2\n").arg(signedIn.record.server, signedIn.record.user).toUtf8());
}

CommandOutcome signOut() {
    SyncAccount account;
    const std::optional<SyncCredentials> credentials = waitFor<std::optional<SyncCredentials>>(
        [&](QObject* receiver, std::function<void(std::optional<SyncCredentials>)> done) {
            account.readCredentials(receiver, std::move(done));
        });
    if (!credentials) {
        return CommandOutcome::failure(QStringLiteral("this computer is not signed in to the server set"));
    }
    const std::optional<QString> problem = sync::ServiceSession::signOut(*credentials);
    waitFor<bool>([&](QObject* receiver, std::function<void(bool)> done) {
        account.deleteToken(credentials->signIn.server, receiver, std::move(done));
    });
    SyncAccount::forgetSignIn();
    tellRunningSnipjar();
    if (problem) {
        return CommandOutcome::failure(
            QStringLiteral("signed out on this computer only (%1); the server still lists it").arg(*problem));
    }
    return CommandOutcome::success();
}

} // namespace

CommandOutcome SyncCommand::run(const CommandLine& commandLine, FILE* passwordInput) {
    if (commandLine.syncAction == QLatin1String("sign-in")) {
        return signIn(commandLine, passwordInput);
    }
    return signOut();
}

} // namespace snipjar
