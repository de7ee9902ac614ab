#include "platform/fakes/FakeKeySynthesizer.h"

namespace snipjar {

bool FakeKeySynthesizer::isTrusted() {
    return trusted;
}

void FakeKeySynthesizer::postPaste(PasteKeystroke keystroke) {
    keystrokes.append(keystroke);
    if (onPost) {
        onPost(keystroke);
    }
}

} // namespace snipjar
