#include "platform/wayland/WaylandKeySynthesizer.h"

#include "platform/LogCategories.h"
#include "platform/wayland/WaylandSeatControl.h"

namespace snipjar {

WaylandKeySynthesizer::WaylandKeySynthesizer(std::shared_ptr<WaylandSeatControl> seat)
    : seat(std::move(seat)) {}

WaylandKeySynthesizer::~WaylandKeySynthesizer() = default;

bool WaylandKeySynthesizer::isTrusted() {
    return seat->canType();
}

void WaylandKeySynthesizer::postPaste(PasteKeystroke keystroke) {
    if (!seat->type(keystroke)) {
        qCWarning(lcPaste) << "The paste keystroke could not be sent to the compositor";
    }
}

} // namespace snipjar
