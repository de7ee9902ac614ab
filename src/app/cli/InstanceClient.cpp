#include "app/cli/InstanceClient.h"

#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QThread>

namespace snipjar {

namespace {

constexpr int startingWaitMilliseconds = 2000;
constexpr int connectRetryMilliseconds = 20;
// A request may wait behind others (a script adding many clips at once), so the answer gets long.
constexpr int answerWaitMilliseconds = 60000;

} // namespace

std::optional<CommandOutcome> InstanceClient::send(const CommandLine& commandLine) {
    if (const std::optional<QString> problem =
            SingleInstance::untrustedFolder(SingleInstance::FolderUse::lookOnly)) {
        return CommandOutcome::failure(*problem);
    }
    SingleInstance instance;
    QLocalSocket socket;
    const QDeadlineTimer deadline(startingWaitMilliseconds);
    while (true) {
        socket.connectToServer(instance.socketPath());
        if (socket.waitForConnected(1000)) {
            break;
        }
        // Nobody listens: either no copy runs (the lock is free), or one is still starting.
        if (!instance.isHeldElsewhere()) {
            return std::nullopt;
        }
        // A copy holds the lock but never listens. Every command stops here, the ones that could
        // write the store files too: that copy may be writing them.
        if (deadline.hasExpired()) {
            return CommandOutcome::failure(SingleInstance::silentInstanceMessage());
        }
        QThread::msleep(connectRetryMilliseconds);
    }
    // Whoever serves the socket reads the request (clip text included) and writes the answer the
    // user will believe, so it must be this user's own Snipjar.
    if (!SingleInstance::peerIsThisUser(socket.socketDescriptor())) {
        return CommandOutcome::failure(instance.foreignServerMessage());
    }
    socket.write(QJsonDocument(commandLine.toJson()).toJson(QJsonDocument::Compact) + '\n');
    QByteArray answer;
    while (!answer.endsWith('\n')) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(answerWaitMilliseconds)) {
            return CommandOutcome::failure(QStringLiteral("the running Snipjar did not answer"));
        }
        answer += socket.readAll();
    }
    socket.disconnectFromServer();
    const QJsonDocument document = QJsonDocument::fromJson(answer);
    if (!document.isObject()) {
        return CommandOutcome::failure(
            QStringLiteral("the running Snipjar gave an answer that cannot be read"));
    }
    return CommandOutcome::fromJson(document.object());
}

} // namespace snipjar
