#pragma once

#include "platform/KeySynthesizer.h"

#include <memory>

namespace snipjar {

class WaylandSeatControl;

// The paste keystroke typed on the compositor's virtual keyboard (wlroots). The keys go to the
// toplevel with the keyboard focus, read with the virtual keyboard's own keymap, so the user's
// layout does not change which keycodes are sent. Modifiers the user still holds (the hot key's)
// belong to another keyboard and do not mix with these. Main thread only; never waits.
class WaylandKeySynthesizer final : public KeySynthesizer {
public:
    explicit WaylandKeySynthesizer(std::shared_ptr<WaylandSeatControl> seat);
    ~WaylandKeySynthesizer() override;

    bool isTrusted() override;
    void postPaste(PasteKeystroke keystroke) override;

private:
    std::shared_ptr<WaylandSeatControl> seat;
};

} // namespace snipjar
