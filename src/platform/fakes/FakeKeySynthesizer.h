#pragma once

#include "platform/KeySynthesizer.h"

#include <QList>

#include <functional>

namespace snipjar {

// Records the keystrokes it was asked to type; trust is scripted.
class FakeKeySynthesizer : public KeySynthesizer {
public:
    bool isTrusted() override;
    void postPaste(PasteKeystroke keystroke) override;

    bool trusted = true;
    QList<PasteKeystroke> keystrokes;
    // Called after each recorded keystroke, so a test can stop its event loop.
    std::function<void(PasteKeystroke)> onPost;
};

} // namespace snipjar
