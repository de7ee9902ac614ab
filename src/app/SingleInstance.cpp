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

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

std::optional<QString> SingleInstance::untrustedFolder(FolderUse use) {
    const QString folder = AppPaths::runtimeFolder();
    const QByteArray path = QFile::encodeName(folder);
    // A folder made here is this user's; the mode is set again in case the umask took from it.
    if (use == FolderUse::create && ::mkdir(path.constData(), 0700) == 0) {
        ::chmod(path.constData(), 0700);
    }
    // lstat: a symbolic link could lead anywhere, also into a folder another user controls.
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0) {
        if (errno == ENOENT && use == FolderUse::lookOnly) {
            return std::nullopt;
        }
        return QStringLiteral("the folder %1 cannot be used: %2")
            .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
    }
    if (!S_ISDIR(info.st_mode)) {
        return QStringLiteral("%1 is not a folder; remove it").arg(folder);
    }
    if (info.st_uid != ::geteuid()) {
        return QStringLiteral("the folder %1 belongs to another user; remove it or set XDG_RUNTIME_DIR")
            .arg(folder);
    }
    if ((info.st_mode & 07777) != 0700) {
        return QStringLiteral("the folder %1 is open to other users (mode %2, not 0700); remove it")
            .arg(folder, QString::number(info.st_mode & 07777, 8));
    }
    return std::nullopt;
}

bool SingleInstance::peerIsThisUser(qintptr socketDescriptor) {
    ucred peer{};
    socklen_t length = sizeof peer;
    return ::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
           peer.uid == ::geteuid();
}

bool SingleInstance::lock() {
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

QString SingleInstance::foreignServerMessage() const {
    return QStringLiteral("the instance socket %1 is served by another user").arg(socketPath());
}

QString SingleInstance::silentInstanceMessage() {
    return QStringLiteral("another Snipjar holds the instance lock but does not answer; quit it (or end its "
                          "process) and try again");
}

std::optional<QString> SingleInstance::notifyRunningInstance() {
    // This runs before any event loop, in a copy that quits right after, so it may block.
    const QDeadlineTimer deadline(listenWaitMilliseconds);
    while (true) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(500)) {
            if (!peerIsThisUser(socket.socketDescriptor())) {
                return foreignServerMessage();
            }
            socket.write(activationMessage);
            socket.waitForBytesWritten(500);
            socket.disconnectFromServer();
            return std::nullopt;
        }
        if (deadline.hasExpired()) {
            return silentInstanceMessage();
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
            connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
            // The folder is private, but root or a leaked descriptor could still reach the socket;
            // only this user's own processes are answered.
            if (!peerIsThisUser(connection->socketDescriptor())) {
                qCWarning(lcApp) << "Closed a connection of another user to the instance socket";
                connection->abort();
                connection->deleteLater();
                continue;
            }
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
