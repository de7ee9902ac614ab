#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace snipjar {

// System-wide key grabs. Main thread only; callbacks run on the main thread.
class GlobalHotKeys {
public:
    // The modifier bits of a combination, after Qt's cross-platform convention: ⌘ is Ctrl, ⌥ is
    // Alt, ⇧ is Shift, ⌃ is Super.
    static constexpr quint32 commandBit = 0x100;
    static constexpr quint32 shiftBit = 0x200;
    static constexpr quint32 optionBit = 0x800;
    static constexpr quint32 controlBit = 0x1000;

    virtual ~GlobalHotKeys() = default;
    // Grabs the key named by keyLabel ("V", "7") with the modifier bits above. Returns a registration id, or
    // none when the combination is held by another client or cannot be expressed.
    virtual std::optional<int> grab(const QString& keyLabel, quint32 modifierBits,
                                    std::function<void()> onPress) = 0;
    virtual void ungrab(int registration) = 0;
    // False where no program may grab keys for itself (a Wayland session without the portal's
    // global shortcuts): the desktop then runs the hot key's command, and every grab() gives none.
    virtual bool grabsKeys() const { return true; }
    // Called when grabsKeys() changed after start (a portal that answered late); grabs made
    // before are to be made again. Set by the application.
    std::function<void()> onGrabsKeysChanged;
    // True while the key of the registration's last press is still down: auto-repeat of a held
    // key calls nothing.
    virtual bool isHeld(int /*registration*/) const { return false; }
    // Treats the registration's key as held until it goes up, for a press that a window's own
    // keyboard grab received instead (the open panel closing on the hot key).
    virtual void holdUntilReleased(int /*registration*/) {}
    // True while the key with this native key code is down on the keyboard: an auto-repeat release,
    // which a window receives like any other, leaves it down.
    virtual bool isKeyDown(quint32 /*keycode*/) const { return false; }
};

} // namespace snipjar
