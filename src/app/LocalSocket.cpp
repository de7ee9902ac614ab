#include "app/LocalSocket.h"

#include <QDeadlineTimer>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace snipjar {

namespace {

constexpr qsizetype readChunkBytes = 64 * 1024;
// How long a command waits before it tries again to join a queue that was full.
constexpr int fullQueueRetryMilliseconds = 10;

// False, with errno ENAMETOOLONG, when the path does not fit an AF_UNIX address.
bool addressOf(const QByteArray& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || size_t(path.size()) >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return true;
}

int newSocket() {
    return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

// True once the descriptor is ready for the events (or has failed, which the next call reports);
// false, with errno ETIMEDOUT, when the time is up first.
bool waitFor(int descriptor, short events, int timeoutMilliseconds) {
    const QDeadlineTimer deadline(timeoutMilliseconds);
    while (true) {
        pollfd watched{descriptor, events, 0};
        const int ready = ::poll(&watched, 1, int(deadline.remainingTime()));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR || deadline.hasExpired()) {
            errno = ETIMEDOUT;
            return false;
        }
    }
}

} // namespace

LocalSocket::LocalSocket(int descriptor)
    : socketDescriptor(descriptor) {}

LocalSocket::LocalSocket(LocalSocket&& other) noexcept
    : socketDescriptor(std::exchange(other.socketDescriptor, -1)) {}

LocalSocket& LocalSocket::operator=(LocalSocket&& other) noexcept {
    if (this != &other) {
        if (socketDescriptor >= 0) {
            ::close(socketDescriptor);
        }
        socketDescriptor = std::exchange(other.socketDescriptor, -1);
    }
    return *this;
}

LocalSocket::~LocalSocket() {
    if (socketDescriptor >= 0) {
        ::close(socketDescriptor);
    }
}

LocalSocket LocalSocket::connectTo(const QString& path, int timeoutMilliseconds) {
    sockaddr_un address;
    if (!addressOf(QFile::encodeName(path), address)) {
        return {};
    }
    LocalSocket socket(newSocket());
    if (!socket.isValid()) {
        return {};
    }
    // A local connection is made at once or not at all: Linux answers EAGAIN, not EINPROGRESS,
    // when the server's queue is full, so there is nothing to poll for but time.
    const QDeadlineTimer deadline(timeoutMilliseconds);
    while (::connect(socket.descriptor(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno == EAGAIN && !deadline.hasExpired()) {
            ::poll(nullptr, 0, fullQueueRetryMilliseconds);
        } else if (errno != EINTR) {
            return {};
        }
    }
    return socket;
}

LocalSocket LocalSocket::listenAt(const QString& path) {
    // Bound under a temporary name in the same folder, made private and listening, and only then
    // renamed over the path: whoever finds the socket file finds it ready and 0600. The umask is
    // left alone, since it is shared by every thread and would spoil the files they make meanwhile.
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary =
        target.left(target.lastIndexOf('/') + 1) + '.' + QByteArray::number(::getpid());
    sockaddr_un address;
    if (!addressOf(temporary, address)) {
        return {};
    }
    LocalSocket socket(newSocket());
    ::unlink(temporary.constData());
    if (!socket.isValid() ||
        ::bind(socket.descriptor(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return {};
    }
    if (::chmod(temporary.constData(), 0600) != 0 || ::listen(socket.descriptor(), SOMAXCONN) != 0 ||
        ::rename(temporary.constData(), target.constData()) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        errno = error;
        return {};
    }
    return socket;
}

bool LocalSocket::peerIsThisUser() const {
    ucred peer{};
    socklen_t length = sizeof peer;
    return ::getsockopt(socketDescriptor, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
           peer.uid == ::geteuid();
}

bool LocalSocket::writeAll(QByteArrayView bytes, int idleMilliseconds) const {
    qsizetype written = 0;
    while (written < bytes.size()) {
        // MSG_NOSIGNAL: a peer that went away is a failure to report, not a SIGPIPE that ends us.
        const ssize_t sent =
            ::send(socketDescriptor, bytes.data() + written, size_t(bytes.size() - written), MSG_NOSIGNAL);
        if (sent >= 0) {
            written += sent;
        } else if (errno != EINTR &&
                   (errno != EAGAIN || !waitFor(socketDescriptor, POLLOUT, idleMilliseconds))) {
            return false;
        }
    }
    return true;
}

std::optional<QByteArray> LocalSocket::readLine(qsizetype cap, int idleMilliseconds) const {
    QByteArray bytes;
    while (true) {
        const qsizetype before = bytes.size();
        bytes.resize(before + readChunkBytes);
        const ssize_t got = ::read(socketDescriptor, bytes.data() + before, size_t(readChunkBytes));
        bytes.resize(before + std::max<ssize_t>(got, 0));
        if (got > 0) {
            // Only the new bytes are searched, so a long answer costs its length once.
            if (const qsizetype end = bytes.indexOf('\n', before); end >= 0) {
                bytes.truncate(end + 1);
                return bytes;
            }
            if (bytes.size() > cap) {
                return std::nullopt;
            }
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN) ||
                   !waitFor(socketDescriptor, POLLIN, idleMilliseconds)) {
            return std::nullopt;
        }
    }
}

} // namespace snipjar
