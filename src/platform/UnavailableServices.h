#pragma once

#include "platform/GlobalHotKeys.h"
#include "platform/KeySynthesizer.h"
#include "platform/Workspace.h"

namespace snipjar {

// The services a desktop does not give this program, said honestly so that the application runs
// without them: no hot key can be grabbed (the desktop runs `snipjar show-panel` on the user's
// shortcut instead), no keys can be typed for another program (a pasted clip is left on the
// clipboard for the user to paste by hand, as when XTest is missing on X11), and no other
// program's window is known.

class UnavailableGlobalHotKeys final : public GlobalHotKeys {
public:
    std::optional<int> grab(const QString&, quint32, std::function<void()>) override { return std::nullopt; }
    void ungrab(int) override {}
    bool grabsKeys() const override { return false; }
};

class UnavailableKeySynthesizer final : public KeySynthesizer {
public:
    bool isTrusted() override { return false; }
    void postPaste(PasteKeystroke) override {}
};

class UnavailableWorkspace final : public Workspace {
public:
    std::optional<RunningApplication> frontmostApplication() override { return std::nullopt; }
    std::optional<RunningApplication> application(qint64) override { return std::nullopt; }
    void activate(const RunningApplication&) override {}
    bool isActive(const RunningApplication&) override { return false; }
    bool isMouseButtonHeld() override { return false; }
};

} // namespace snipjar
