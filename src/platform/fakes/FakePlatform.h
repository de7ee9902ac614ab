#pragma once

#include "platform/PlatformServices.h"
#include "platform/fakes/FakeDesktopNotifier.h"
#include "platform/fakes/FakeGlobalHotKeys.h"
#include "platform/fakes/FakeKeySynthesizer.h"
#include "platform/fakes/FakePasteboard.h"
#include "platform/fakes/FakeWorkspace.h"

namespace snipjar {

// The platform services as fakes, for running the whole application in a test; the typed
// accessors reach the fakes behind the interfaces.
class FakePlatform final : public PlatformServices {
    Q_OBJECT
public:
    FakePlatform();

    FakePasteboard& fakePasteboard() { return static_cast<FakePasteboard&>(*pasteboard); }
    FakeWorkspace& fakeWorkspace() { return static_cast<FakeWorkspace&>(*workspace); }
    FakeGlobalHotKeys& fakeHotKeys() { return static_cast<FakeGlobalHotKeys&>(*globalHotKeys); }
    FakeDesktopNotifier& fakeNotifier() { return static_cast<FakeDesktopNotifier&>(*desktopNotifier); }

    // As if the computer had just woken from sleep.
    void simulateWake() { emit didWake(); }

    bool isCompositing() const override { return false; }
    std::unique_ptr<Pasteboard> createPrimarySelection() const override {
        return std::make_unique<FakePasteboard>();
    }
};

} // namespace snipjar
