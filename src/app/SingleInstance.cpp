#include "app/SingleInstance.h"

#include "platform/AppPaths.h"
#include "platform/LogCategories.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace snipjar {

namespace {

const QByteArray activationMessage = "show\n";

// The running copy takes the lock before it listens; a copy started in between waits this long
// for the socket, then gives up.
constexpr int listenWaitMilliseconds = 2000;
constexpr int connectRetryMilliseconds = 50;

// An answer line in the form of the command line's answers (status, output, error).
QByteArray refusal(int status, const QString& error) {
    QJsonObject answer;
    answer.insert(QStringLiteral("status"), status);
    answer.insert(QStringLiteral("output"), QString());
    answer.insert(QStringLiteral("error"), error);
    return QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

SingleInstance::SingleInstance(QObject* parent)
    : QObject(parent) {}

SingleInstance::~SingleInstance() {
    if (server) {
        server->close();
    }
    if (lockDescriptor >= 0) {
        ::close(lockDescriptor);
    }
}

QString SingleInstance::lockPath() const {
    return AppPaths::runtimeFolder() + QStringLiteral("/instance.lock");
}

QString SingleInstance::socketPath() const {
    return AppPaths::runtimeFolder() + QStringLiteral("/instance.socket");
}

bool SingleInstance::lock() {
    AppPaths::ensurePrivateFolder(AppPaths::runtimeFolder());
    lockDescriptor = ::open(QFile::encodeName(lockPath()).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockDescriptor < 0) {
        // Without a lock file there is no way to tell; run rather than refuse to start.
        qCWarning(lcApp) << "Cannot create the instance lock" << lockPath();
        return true;
    }
    if (::flock(lockDescriptor, LOCK_EX | LOCK_NB) != 0) {
        ::close(lockDescriptor);
        lockDescriptor = -1;
        return false;
    }
    return true;
}

bool SingleInstance::isHeldElsewhere() const {
    if (lockDescriptor >= 0) {
        return false;
    }
    const int descriptor = ::open(QFile::encodeName(lockPath()).constData(), O_RDWR | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    const bool held = ::flock(descriptor, LOCK_EX | LOCK_NB) != 0;
    ::close(descriptor);
    return held;
}

QString SingleInstance::silentInstanceMessage() {
    return QStringLiteral("another Snipjar holds the instance lock but does not answer; quit it (or end its "
                          "process) and try again");
}

bool SingleInstance::notifyRunningInstance() {
    // This runs before any event loop, in a copy that quits right after, so it may block.
    const QDeadlineTimer deadline(listenWaitMilliseconds);
    while (true) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(500)) {
            socket.write(activationMessage);
            socket.waitForBytesWritten(500);
            socket.disconnectFromServer();
            return true;
        }
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::msleep(connectRetryMilliseconds);
    }
}

void SingleInstance::listen() {
    server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // The lock is held, so a socket file left here belongs to a copy that has died.
    QLocalServer::removeServer(socketPath());
    if (!server->listen(socketPath())) {
        qCWarning(lcApp) << "Cannot listen on" << socketPath() << server->errorString();
        return;
    }
    connect(server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* connection = server->nextPendingConnection()) {
            auto pending = std::make_shared<QByteArray>();
            connect(connection, &QLocalSocket::readyRead, this, [this, connection, pending] {
                pending->append(connection->readAll());
                qsizetype end = 0;
                while ((end = pending->indexOf('\n')) >= 0) {
                    const QByteArray line = pending->left(end);
                    pending->remove(0, end + 1);
                    handleLine(*connection, line);
                }
                // Whoever sends more than a request can hold is answered once and cut off, before
                // the line fills the memory.
                if (pending->size() > largestLineBytes) {
                    pending->clear();
                    qCWarning(lcApp) << "A request line over" << largestLineBytes << "bytes was refused";
                    connection->write(refusal(2, QStringLiteral("the request is too long")));
                    connection->disconnectFromServer();
                }
            });
            connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
        }
    });
}

void SingleInstance::handleLine(QLocalSocket& connection, const QByteArray& line) {
    if (line.trimmed() == activationMessage.trimmed()) {
        emit activationRequested();
        return;
    }
    // Every other line gets an answer, also one that is no request at all: the handler refuses it.
    connection.write(requestHandler ? requestHandler(line)
                                    : refusal(1, QStringLiteral("Snipjar is starting")));
    connection.flush();
}

} // namespace snipjar
