#include "platform/fakes/FakeGlobalHotKeys.h"

namespace snipjar {

std::optional<int> FakeGlobalHotKeys::grab(const QString& keyLabel, quint32 modifierBits,
                                           std::function<void()> onPress) {
    const Combination combination{keyLabel.toUpper(), modifierBits};
    if (taken.contains(combination)) {
        return std::nullopt;
    }
    const int registration = nextRegistration++;
    grabs[registration] = Grab{combination, std::move(onPress)};
    return registration;
}

void FakeGlobalHotKeys::ungrab(int registration) {
    ungrabs.append(registration);
    grabs.erase(registration);
}

int FakeGlobalHotKeys::press(const QString& keyLabel, quint32 modifierBits) {
    const Combination combination{keyLabel.toUpper(), modifierBits};
    // Copy the callbacks first: a callback may replace the grab it was called for.
    QList<std::function<void()>> callbacks;
    for (const auto& [registration, grab] : grabs) {
        if (grab.combination == combination) {
            callbacks.append(grab.onPress);
        }
    }
    for (const auto& callback : callbacks) {
        if (callback) {
            callback();
        }
    }
    return int(callbacks.size());
}

QList<FakeGlobalHotKeys::Combination> FakeGlobalHotKeys::activeGrabs() const {
    QList<Combination> result;
    for (const auto& [registration, grab] : grabs) {
        result.append(grab.combination);
    }
    return result;
}

} // namespace snipjar
