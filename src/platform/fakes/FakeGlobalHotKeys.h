#pragma once

#include "platform/GlobalHotKeys.h"

#include <QList>
#include <QSet>

#include <map>
#include <tuple>

namespace snipjar {

// Key grabs kept in memory. Combinations listed in `taken` are refused as if another client held
// them; press() stands for the user pressing a combination.
class FakeGlobalHotKeys : public GlobalHotKeys {
public:
    struct Combination {
        QString keyLabel;
        quint32 modifierBits = 0;

        bool operator==(const Combination&) const = default;
        bool operator<(const Combination& other) const {
            return std::tie(keyLabel, modifierBits) < std::tie(other.keyLabel, other.modifierBits);
        }
    };

    std::optional<int> grab(const QString& keyLabel, quint32 modifierBits,
                            std::function<void()> onPress) override;
    void ungrab(int registration) override;

    // Calls the callback of every live grab of the combination; returns how many were called.
    int press(const QString& keyLabel, quint32 modifierBits);
    // The combinations grabbed now, one entry per live registration, in registration order.
    QList<Combination> activeGrabs() const;

    QList<Combination> taken;

    // The registrations ungrabbed, in order.
    QList<int> ungrabs;

private:
    struct Grab {
        Combination combination;
        std::function<void()> onPress;
    };
    std::map<int, Grab> grabs;
    int nextRegistration = 1;
};

} // namespace snipjar
