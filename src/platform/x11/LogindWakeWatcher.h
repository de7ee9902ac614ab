#pragma once

#include <QDBusConnection>
#include <QObject>

namespace snipjar {

// Tells when the computer woke from sleep: logind announces PrepareForSleep(true) before it
// suspends and PrepareForSleep(false) after it resumed. Only logind itself (the owner of
// org.freedesktop.login1) is listened to. Without a system bus nothing is ever told. Main thread
// only.
class LogindWakeWatcher : public QObject {
    Q_OBJECT
public:
    // The bus logind is on: the system bus, or a private one in tests.
    explicit LogindWakeWatcher(QDBusConnection bus = QDBusConnection::systemBus(), QObject* parent = nullptr);

    // Whether logind's announcements are listened to.
    bool isWatching() const { return watching; }

signals:
    void aboutToSleep();
    void didWake();

private slots:
    void prepareForSleep(bool sleeping);

private:
    bool watching = false;
};

} // namespace snipjar
