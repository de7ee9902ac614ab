#include "app/SingleInstance.h"

#include "app/InstanceConnection.h"
#include "platform/AppPaths.h"
#include "platform/LogCategories.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

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
constexpr int connectWaitMilliseconds = 500;
// When no connection can be taken (no descriptor left), the queue is looked at again this late.
constexpr int acceptRetryMilliseconds = 100;

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
    if (server.isValid()) {
        serverNotifier.reset();
        ::unlink(QFile::encodeName(socketPath()).constData());
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
        const LocalSocket socket = LocalSocket::connectTo(socketPath(), connectWaitMilliseconds);
        if (socket.isValid()) {
            if (!socket.peerIsThisUser()) {
                return foreignServerMessage();
            }
            socket.writeAll(activationMessage, connectWaitMilliseconds);
            return std::nullopt;
        }
        if (deadline.hasExpired()) {
            return silentInstanceMessage();
        }
        QThread::msleep(connectRetryMilliseconds);
    }
}

void SingleInstance::listen() {
    // The lock is held, so a socket file left at the path belongs to a copy that has died; the new
    // socket takes its place.
    server = LocalSocket::listenAt(socketPath());
    if (!server.isValid()) {
        qCWarning(lcApp) << "Cannot listen on" << socketPath() << std::strerror(errno);
        return;
    }
    serverNotifier = std::make_unique<QSocketNotifier>(server.descriptor(), QSocketNotifier::Read);
    connect(serverNotifier.get(), &QSocketNotifier::activated, this, &SingleInstance::acceptConnections);
}

void SingleInstance::acceptConnections() {
    while (true) {
        LocalSocket connection(
            ::accept4(server.descriptor(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!connection.isValid()) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno != EAGAIN) {
                // The connection stays queued; looking again at once would only spin.
                qCWarning(lcApp) << "Cannot take a connection to the instance socket" << std::strerror(errno);
                serverNotifier->setEnabled(false);
                QTimer::singleShot(acceptRetryMilliseconds, serverNotifier.get(),
                                   [notifier = serverNotifier.get()] { notifier->setEnabled(true); });
            }
            return;
        }
        // The folder is private, but root or a leaked descriptor could still reach the socket; only
        // this user's own processes are answered.
        if (!connection.peerIsThisUser()) {
            qCWarning(lcApp) << "Closed a connection of another user to the instance socket";
            continue;
        }
        auto* served =
            new InstanceConnection(std::move(connection), largestLineBytes,
                                   refusal(2, QStringLiteral("the request is too long")), {}, this);
        served->setAnswer([this, served](const QByteArray& line) { return handleLine(line, *served); });
    }
}

QByteArray SingleInstance::handleLine(const QByteArray& line, InstanceConnection& connection) {
    if (line.trimmed() == activationMessage.trimmed()) {
        emit activationRequested();
        return {};
    }
    // Every other line gets an answer, also one that is no request at all: the handler refuses it.
    return requestHandler ? requestHandler(line, connection)
                          : refusal(1, QStringLiteral("Snipjar is starting"));
}

} // namespace snipjar
