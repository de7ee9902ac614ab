#pragma once

#include "platform/GlobalHotKeys.h"

#include <QObject>

#include <xcb/xcb.h>

#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

class QSocketNotifier;

namespace snipjar {

class XcbConnection;

// Global hot keys as passive key grabs on the root window. Each combination is grabbed once per
// NumLock/CapsLock state, so it works whatever the lock keys are. Registrations are counted per
// combination: a second registration of the same keys shares the grab and the last ungrab releases
// it, so replacing a hot key with an equal one keeps the keys grabbed.
//
// The object owns its connection and reads key events from it on the thread it lives on (the main
// thread), through a socket notifier on the connection's file descriptor.
class X11GlobalHotKeys : public QObject, public GlobalHotKeys {
    Q_OBJECT
public:
    explicit X11GlobalHotKeys(std::unique_ptr<XcbConnection> connection, QObject* parent = nullptr);
    ~X11GlobalHotKeys() override;

    std::optional<int> grab(const QString& keyLabel, quint32 modifierBits,
                            std::function<void()> onPress) override;
    void ungrab(int registration) override;

    // The keysym of a key label ("V" gives XK_v, "7" XK_7); none for a label that is not one
    // Latin-1 letter or digit.
    static std::optional<xcb_keysym_t> keysymForLabel(const QString& keyLabel);

private:
    struct Key {
        xcb_keycode_t keycode = 0;
        uint16_t modifiers = 0;
        bool operator<(const Key& other) const {
            return std::tie(keycode, modifiers) < std::tie(other.keycode, other.modifiers);
        }
    };
    struct Registration {
        Key key;
        std::function<void()> onPress;
    };
    struct KeyRelease {
        xcb_keycode_t keycode = 0;
        xcb_timestamp_t time = 0;
    };
    struct ModifierMasks {
        uint16_t alt = XCB_MOD_MASK_1;
        uint16_t super = XCB_MOD_MASK_4;
        uint16_t numLock = XCB_MOD_MASK_2;
    };

    ModifierMasks readModifierMasks();
    std::vector<uint16_t> lockVariants() const;
    bool grabVariants(const Key& key);
    void ungrabVariants(const Key& key);
    void processEvents();
    void scheduleProcessEvents();

    std::unique_ptr<XcbConnection> connection;
    QSocketNotifier* notifier = nullptr;
    ModifierMasks masks;
    std::map<int, Registration> registrations;
    std::map<Key, int> grabCounts;
    int nextRegistration = 1;
    // The last key release read, kept across reads so that an auto-repeat pair split between two
    // reads is still recognised.
    std::optional<KeyRelease> lastRelease;
};

} // namespace snipjar
