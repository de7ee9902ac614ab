#include "app/cli/InstanceClient.h"

#include "app/LocalSocket.h"
#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QThread>

#include <cerrno>

namespace snipjar {

namespace {

constexpr int startingWaitMilliseconds = 2000;
constexpr int connectRetryMilliseconds = 20;
constexpr int connectWaitMilliseconds = 1000;
// A request may wait behind others (a script adding many clips at once), so the answer gets long.
constexpr int answerWaitMilliseconds = 60000;
// An export or import of a large history takes as long as its disk does.
constexpr int archiveWaitMilliseconds = 6 * 60 * 60 * 1000;
// The answer comes from this user's own Snipjar; the cap only guards against one gone wrong.
constexpr qsizetype largestAnswerBytes = qsizetype(1) << 30;

QString noAnswer() {
    return QStringLiteral("the running Snipjar did not answer");
}

} // namespace

std::optional<CommandOutcome> InstanceClient::connect(LocalSocket& socket) {
    if (const std::optional<QString> problem =
            SingleInstance::untrustedFolder(SingleInstance::FolderUse::lookOnly)) {
        return CommandOutcome::failure(*problem);
    }
    SingleInstance instance;
    const QDeadlineTimer deadline(startingWaitMilliseconds);
    while (true) {
        socket = LocalSocket::connectTo(instance.socketPath(), connectWaitMilliseconds);
        if (socket.isValid()) {
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
    if (!socket.peerIsThisUser()) {
        socket = LocalSocket();
        return CommandOutcome::failure(instance.foreignServerMessage());
    }
    return std::nullopt;
}

QByteArray InstanceClient::requestLine(const CommandLine& commandLine) {
    return QJsonDocument(commandLine.toJson()).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<CommandOutcome> InstanceClient::send(const CommandLine& commandLine) {
    LocalSocket socket;
    if (std::optional<CommandOutcome> failure = connect(socket)) {
        return failure;
    }
    if (!socket.isValid()) {
        return std::nullopt;
    }
    // A request the running copy refuses halfway (one too long) may still have its answer waiting.
    if (!socket.writeAll(requestLine(commandLine), answerWaitMilliseconds) && errno == ETIMEDOUT) {
        return CommandOutcome::failure(noAnswer());
    }
    const bool archive = commandLine.command == CommandLine::Command::exportHistory ||
                         commandLine.command == CommandLine::Command::importHistory;
    const std::optional<QByteArray> answer =
        socket.readLine(largestAnswerBytes, archive ? archiveWaitMilliseconds : answerWaitMilliseconds);
    if (!answer) {
        return CommandOutcome::failure(noAnswer());
    }
    const QJsonDocument document = QJsonDocument::fromJson(*answer);
    if (!document.isObject()) {
        return CommandOutcome::failure(
            QStringLiteral("the running Snipjar gave an answer that cannot be read"));
    }
    return CommandOutcome::fromJson(document.object());
}

} // namespace snipjar
