#include "paste/HotKey.h"

#include "platform/GlobalHotKeys.h"
#include "platform/LogCategories.h"

namespace snipjar {

HotKey::HotKey(GlobalHotKeys& hotKeys, const HotKeyCombo& combo, std::function<void()> callback)
    : hotKeys(hotKeys)
    , registeredCombo(combo)
    , callback(std::make_shared<std::function<void()>>(std::move(callback))) {
    std::weak_ptr<std::function<void()>> weakCallback = this->callback;
    registration = hotKeys.grab(combo.keyLabel, combo.carbonModifiers, [weakCallback] {
        if (auto strongCallback = weakCallback.lock(); strongCallback && *strongCallback) {
            (*strongCallback)();
        }
    });
    if (!registration) {
        qCInfo(lcHotKey) << "The hot key could not be registered:" << combo.linuxDisplayString();
    }
}

HotKey::~HotKey() {
    if (registration) {
        hotKeys.ungrab(*registration);
    }
}

bool HotKey::isHeld() const {
    return registration && hotKeys.isHeld(*registration);
}

void HotKey::holdUntilReleased() {
    if (registration) {
        hotKeys.holdUntilReleased(*registration);
    }
}

} // namespace snipjar
