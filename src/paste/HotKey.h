#pragma once

#include "paste/HotKeyCombo.h"

#include <functional>
#include <memory>
#include <optional>

namespace snipjar {

class GlobalHotKeys;

// One registration of a combination with the window system, from creation to destruction. A press
// calls the callback on the main thread. A combination held by another client is not registered
// and nothing happens on presses; no message is shown.
//
// Replacing a HotKey is done by creating the new one before destroying the old one. The global
// hot-key service counts registrations per combination, so this ends with exactly the new
// combination registered, also when it equals the old one.
class HotKey {
public:
    HotKey(GlobalHotKeys& hotKeys, const HotKeyCombo& combo, std::function<void()> callback);
    ~HotKey();
    HotKey(const HotKey&) = delete;
    HotKey& operator=(const HotKey&) = delete;

    const HotKeyCombo& combo() const { return registeredCombo; }
    // False when the window system refused the combination.
    bool isRegistered() const { return registration.has_value(); }
    // True while the combination's key is still down from its last press; repeats of it call
    // nothing.
    bool isHeld() const;
    // The open panel took a press of the combination itself: its repeats must not reopen it.
    void holdUntilReleased();

private:
    GlobalHotKeys& hotKeys;
    HotKeyCombo registeredCombo;
    // Shared with the press handler, which holds it weakly: a press delivered after destruction
    // does nothing.
    std::shared_ptr<std::function<void()>> callback;
    std::optional<int> registration;
};

} // namespace snipjar
