#pragma once

#include "platform/GlobalHotKeys.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QVariantMap>

#include <map>

namespace snipjar {

// Global hot keys through the desktop portal's GlobalShortcuts interface, where the portal offers
// it (a Wayland session, where no program may grab keys itself): the desktop asks the user once
// whether, and with which keys, Snipjar may have its shortcut, and reports each press. Until the
// portal answered, and where it offers no such thing (Debian 12's portal, sway), grabsKeys() is
// false and the desktop runs `snipjar show-panel` instead. Main thread only.
class PortalGlobalHotKeys final : public QObject, public GlobalHotKeys {
    Q_OBJECT
public:
    // Asks the portal on the bus whether it offers global shortcuts and opens a session there; the
    // answer comes later (onGrabsKeysChanged).
    explicit PortalGlobalHotKeys(QDBusConnection bus = QDBusConnection::sessionBus());
    ~PortalGlobalHotKeys() override;

    std::optional<int> grab(const QString& keyLabel, quint32 modifierBits,
                            std::function<void()> onPress) override;
    void ungrab(int registration) override;
    bool grabsKeys() const override { return !session.path().isEmpty(); }

    // The combination in the portal's trigger notation (the XDG shortcuts specification):
    // "CTRL+ALT+v".
    static QString trigger(const QString& keyLabel, quint32 modifierBits);

private slots:
    void sessionCreated(uint response, const QVariantMap& results);
    void bound(uint response, const QVariantMap& results);
    void activated(const QDBusObjectPath& session, const QString& shortcut, qulonglong timestamp,
                   const QVariantMap& options);

private:
    // Calls method of the portal's GlobalShortcuts; its answer comes to slot (DesktopPortal).
    void request(const QString& method, const QVariantList& arguments, const QVariantMap& options,
                 const char* slot);
    void bindLater();

    struct Binding {
        QString trigger;
        std::function<void()> onPress;
    };

    QDBusConnection bus;
    QDBusObjectPath session;
    std::map<int, Binding> bindings;
    // The triggers last asked of the portal.
    QStringList boundTriggers;
    int nextRegistration = 1;
    bool bindScheduled = false;
};

} // namespace snipjar
