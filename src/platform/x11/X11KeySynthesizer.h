#pragma once

#include "platform/KeySynthesizer.h"

#include <optional>

namespace snipjar {

class XcbConnection;

// Key events through the XTEST extension. The connection must outlive this object. Main thread only.
class X11KeySynthesizer : public KeySynthesizer {
public:
    explicit X11KeySynthesizer(XcbConnection& connection);

    bool isTrusted() override;
    // The keystroke goes to the window with the keyboard focus. Modifier keys still held (the hot
    // key's Ctrl and Alt, or the panel's Ctrl+1) are released first, or the application would see
    // Ctrl+Alt+V instead of Ctrl+V. In a GUI process, every request on Qt's own X connection (the
    // panel's ungrab and unmap) has been processed before the keystroke is sent.
    void postPaste(PasteKeystroke keystroke) override;

private:
    XcbConnection& connection;
    std::optional<bool> hasXTest;
};

} // namespace snipjar
