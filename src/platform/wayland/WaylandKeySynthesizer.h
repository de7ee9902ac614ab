#pragma once

#include "platform/KeySynthesizer.h"

#include <memory>

namespace snipjar {

class WaylandSeatControl;

// The paste keystroke typed on the compositor's virtual keyboard (wlroots) or through KWin's fake
// input. The keys go to the toplevel with the keyboard focus, found in the seat's keymap, so that
// the user's layout (Dvorak, AZERTY) does not change the letter typed. On wlroots modifiers the user
// still holds (the hot key's) belong to another keyboard and do not mix with these; KWin keeps one
// modifier state for all keyboards, as X11 does. Main thread only; never waits.
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
