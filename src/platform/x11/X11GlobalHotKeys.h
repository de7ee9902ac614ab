#pragma once

#include "platform/GlobalHotKeys.h"

#include <QObject>

#include <xcb/xcb.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace snipjar {

class XcbConnection;

// Global hot keys as passive key grabs on the root window. Each combination is grabbed once per
// NumLock/CapsLock state, so it works whatever the lock keys are. Registrations are counted per
// combination: a second registration of the same keys shares the grab and the last ungrab releases
// it, so replacing a hot key with an equal one keeps the keys grabbed.
//
// A registration remembers its keysym, not its keycode: when the keyboard mapping changes (another
// layout) every registration is grabbed again on the key that now produces it. When the connection
// fails (the server closed it), a new one is opened and every registration is grabbed on it; when
// none can be opened, connectionLost() says that hot keys are gone for good.
//
// The object owns its connection and reads key events from it on the thread it lives on (the main
// thread), through a socket notifier on the connection's file descriptor.
class X11GlobalHotKeys : public QObject, public GlobalHotKeys {
    Q_OBJECT
public:
    using ConnectionFactory = std::function<std::unique_ptr<XcbConnection>()>;

    // reconnect opens the replacement for a failed connection; without one, $DISPLAY is opened.
    explicit X11GlobalHotKeys(std::unique_ptr<XcbConnection> connection, ConnectionFactory reconnect = {},
                              QObject* parent = nullptr);
    ~X11GlobalHotKeys() override;

    std::optional<int> grab(const QString& keyLabel, quint32 modifierBits,
                            std::function<void()> onPress) override;
    void ungrab(int registration) override;
    bool isHeld(int registration) const override;
    void holdUntilReleased(int registration) override;
    bool isKeyDown(quint32 keycode) const override;
    // False in a Wayland session (the compositor's X server): its grabs see keys only while one of
    // its own windows has focus, so the desktop has to run the hot key.
    bool grabsKeys() const override;

    // The keysym of a key label ("V" gives XK_v, "7" XK_7); none for a label that is not one
    // Latin-1 letter or digit.
    static std::optional<xcb_keysym_t> keysymForLabel(const QString& keyLabel);

signals:
    // The connection failed and no new one could be opened.
    void connectionLost();

private:
    struct Key {
        xcb_keycode_t keycode = 0;
        uint16_t modifiers = 0;
        bool operator==(const Key&) const = default;
        bool operator<(const Key& other) const {
            return std::tie(keycode, modifiers) < std::tie(other.keycode, other.modifiers);
        }
    };
    struct Registration {
        xcb_keysym_t keysym = 0;
        quint32 modifierBits = 0;
        // Absent while no key produces the keysym or another client holds the combination.
        std::optional<Key> key;
        std::function<void()> onPress;
    };
    struct ModifierMasks {
        uint16_t alt = XCB_MOD_MASK_1;
        uint16_t super = XCB_MOD_MASK_4;
        uint16_t numLock = XCB_MOD_MASK_2;
    };

    void attach(std::unique_ptr<XcbConnection> replacement);
    ModifierMasks readModifierMasks();
    std::optional<Key> keyFor(xcb_keysym_t keysym, quint32 modifierBits);
    bool acquire(const Key& key);
    void release(const Key& key);
    void regrabAll();
    std::vector<uint16_t> lockVariants() const;
    bool grabVariants(const Key& key);
    void ungrabVariants(const Key& key);
    void processEvents();
    void hold(xcb_keycode_t keycode);
    void checkHeldKey();
    void scheduleProcessEvents();
    void handleConnectionFailure();
    void reconnect(int attempt);

    std::unique_ptr<XcbConnection> connection;
    ConnectionFactory openConnection;
    QSocketNotifier* notifier = nullptr;
    ModifierMasks masks;
    std::map<int, Registration> registrations;
    std::map<Key, int> grabCounts;
    int nextRegistration = 1;
    // The key of the last press that called a registration, while it is down. Auto-repeat sends
    // more presses of it, as release and press pairs or as presses alone, and each would toggle
    // the panel again. Its release is not always seen here (the grab is let go at once, and the
    // panel's own grab may take the keys), so the keyboard's state is polled until it is up.
    std::optional<xcb_keycode_t> heldKeycode;
    QTimer* releasePoll = nullptr;
};

} // namespace snipjar
