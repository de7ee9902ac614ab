#include "platform/fakes/FakePlatform.h"

namespace snipjar {

FakePlatform::FakePlatform() {
    workspace = std::make_unique<FakeWorkspace>();
    keySynthesizer = std::make_unique<FakeKeySynthesizer>();
    globalHotKeys = std::make_unique<FakeGlobalHotKeys>();
    desktopNotifier = std::make_unique<FakeDesktopNotifier>();
    pasteboard = std::make_unique<FakePasteboard>();
}

} // namespace snipjar
