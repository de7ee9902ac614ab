#pragma once

#include "app/LocalSocket.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace snipjar {
class InstanceConnection;
}

namespace snipjar {

// Makes sure only one Snipjar runs per user session: a lock file (flock) plus a local socket in the
// runtime folder. A second copy tells the first over the socket that it was started again and
// quits; the first stays untouched apart from the activation request it receives.
//
// The socket also carries the requests of the command line: one JSON line per request, answered
// by one JSON line on the same connection (see InstanceRequestHandler). The bare line "show" is
// the activation request.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // Why the runtime folder cannot be trusted with the lock and the socket, or nothing when it can.
    // The folder's name is predictable (under the shared temporary folder when XDG_RUNTIME_DIR is
    // unset), so another user may have made it first: it must be a real folder of this user with
    // mode 0700. With FolderUse::create a missing folder is made; with lookOnly it is no problem,
    // since then nothing runs.
    enum class FolderUse { create, lookOnly };
    static std::optional<QString> untrustedFolder(FolderUse use);

    // True when this process now holds the lock (also when no lock file can be made: running
    // beats refusing to start). False when another copy holds it. Needs no Qt application.
    bool lock();
    // Asks the copy that holds the lock to show its panel, waiting up to two seconds for it to
    // listen, since a copy that has just started holds the lock a moment before its socket exists.
    // The reason, when it never listened or the socket is served by another user (who is told
    // nothing).
    std::optional<QString> notifyRunningInstance();
    // True when another process holds the lock (a copy runs or is starting). Takes nothing.
    bool isHeldElsewhere() const;
    // Listens for the activation requests of later copies and the requests of commands, on the GUI
    // thread, which never waits for a peer; call once the lock is held. Connections of other users
    // are closed unanswered.
    void listen();

    // Answers a request line (without its line feed) with the answer line; set before listen(). The
    // connection it came on may be kept for lines pushed later (InstanceConnection::keepForPushes).
    std::function<QByteArray(const QByteArray&, InstanceConnection&)> requestHandler;

    // The longest request line read: the largest clip (50 MB) twice over, which holds it in base64
    // or as JSON text with its quotes, backslashes and line breaks escaped, and the rest of the
    // request. A longer line is answered with an error and the connection is closed.
    static constexpr qsizetype largestLineBytes = 2 * 50'000'000 + (1 << 20);
    // The one-line failure of every command when a copy holds the lock but does not listen.
    static QString silentInstanceMessage();
    // What a command and a second copy say when the socket is served by another user.
    QString foreignServerMessage() const;

    QString lockPath() const;
    QString socketPath() const;

signals:
    // Another copy was started and asks this one to show its panel.
    void activationRequested();

private:
    void acceptConnections();
    QByteArray handleLine(const QByteArray& line, InstanceConnection& connection);

    int lockDescriptor = -1;
    LocalSocket server;
    std::unique_ptr<QSocketNotifier> serverNotifier;
};

} // namespace snipjar
