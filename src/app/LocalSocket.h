#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace snipjar {

// An owned AF_UNIX stream socket, closed when it goes. Its descriptor is close-on-exec, so that no
// program Snipjar starts inherits it, and non-blocking: the GUI thread serves it from notifiers,
// while a short-lived command uses the calls below, which wait with poll() and give up after their
// timeout instead of hanging on a peer that stopped.
class LocalSocket {
public:
    LocalSocket() = default;
    explicit LocalSocket(int descriptor);
    LocalSocket(LocalSocket&& other) noexcept;
    LocalSocket& operator=(LocalSocket&& other) noexcept;
    ~LocalSocket();

    int descriptor() const { return socketDescriptor; }
    bool isValid() const { return socketDescriptor >= 0; }

    // Connected to the socket at the path, waiting up to the timeout while its queue of waiting
    // connections is full. An invalid one, with errno set, when nobody listens there.
    static LocalSocket connectTo(const QString& path, int timeoutMilliseconds);
    // Listening at the path, which it replaces: a file left by a process that died. The socket file
    // is 0600 and appears under its name only once it listens. Invalid, with errno set, on failure.
    static LocalSocket listenAt(const QString& path);

    // True when the process on the other end runs as this user.
    bool peerIsThisUser() const;
    // Writes all the bytes, waiting up to the timeout each time the peer takes none. False when the
    // peer is gone, or (errno ETIMEDOUT) has stopped reading.
    bool writeAll(QByteArrayView bytes, int idleMilliseconds) const;
    // The bytes up to and including the first line feed, waiting up to the timeout each time the
    // peer sends nothing. None when the peer closes or stays silent first, or sends more than `cap`
    // bytes without a line feed. Whatever follows the line feed is dropped: the peer answers once.
    std::optional<QByteArray> readLine(qsizetype cap, int idleMilliseconds) const;

private:
    int socketDescriptor = -1;
};

} // namespace snipjar
