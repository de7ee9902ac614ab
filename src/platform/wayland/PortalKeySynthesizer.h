#pragma once

#include "platform/KeySynthesizer.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QVariantMap>

#include <optional>

namespace snipjar {

// The paste keystroke through the desktop portal's RemoteDesktop keyboard, where the compositor
// offers no virtual keyboard and no fake input (GNOME, KDE without the application's desktop entry).
// The first paste opens a session: the desktop asks the user once whether Snipjar may type, and
// gives a token that the settings keep, so that later sessions (after a restart) start without
// asking again. Keys go as keysyms, which the compositor places on the user's layout. Main thread.
class PortalKeySynthesizer final : public QObject, public KeySynthesizer {
    Q_OBJECT
public:
    // Asks the portal on the bus whether it offers a remote keyboard; until it answered, and where
    // it offers none, pasting is by hand (isTrusted() false).
    explicit PortalKeySynthesizer(QDBusConnection bus = QDBusConnection::sessionBus());
    ~PortalKeySynthesizer() override;

    bool isTrusted() override { return offered; }
    // Types the keystroke, once the session started (asking the user first, the first time); a
    // paste asked for while that runs is typed when it started, the newest only.
    void postPaste(PasteKeystroke keystroke) override;

private slots:
    void sessionCreated(uint response, const QVariantMap& results);
    void devicesSelected(uint response, const QVariantMap& results);
    void started(uint response, const QVariantMap& results);
    void sessionClosed();

private:
    void request(const QString& method, const QVariantList& arguments, const QVariantMap& options,
                 const char* slot);
    void type(PasteKeystroke keystroke);
    void key(int keysym, bool pressed);
    void endSession();

    QDBusConnection bus;
    bool offered = false;
    bool starting = false;
    QDBusObjectPath session;
    bool running = false;
    std::optional<PasteKeystroke> waiting;
};

} // namespace snipjar
