#include "FuzzInput.h"

#include "paste/HotKeyCombo.h"
#include "paste/KeyComboText.h"
#include "paste/PasteKeyTable.h"

#include <cstdio>
#include <cstdlib>

using namespace snipjar;

namespace {

// A combination that was read is one of the table's keys with at least one modifier, and both of
// its written forms read back as the same combination.
void checkCombo(const HotKeyCombo& combo) {
    SNIPJAR_FUZZ_CHECK(combo.carbonModifiers != 0);
    SNIPJAR_FUZZ_CHECK((combo.carbonModifiers & ~HotKeyCombo::allModifierBits) == 0);
    SNIPJAR_FUZZ_CHECK(HotKeyCombo::keyNameTable().value(combo.keyLabel.toLower(), 999) == combo.keyCode);
    SNIPJAR_FUZZ_CHECK(HotKeyCombo::parseSetting(combo.displayString()) == combo);
    SNIPJAR_FUZZ_CHECK(HotKeyCombo::parseSetting(combo.linuxDisplayString()) == combo);
    combo.refusal();
}

} // namespace

// Hot-key strings as they come from the settings file, a hand edit or the shortcut field: the
// symbol form (⌥⌘V), the word forms and the Linux form (Ctrl+Alt+V), and the paste keystrokes of
// the pasteKeys group.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(fuzz::bytesOf(data, size));
    for (const std::optional<HotKeyCombo>& combo :
         {HotKeyCombo::parse(text), HotKeyCombo::parseLinuxForm(text), HotKeyCombo::parseSetting(text)}) {
        if (combo) {
            checkCombo(*combo);
        }
    }
    if (const std::optional<HotKeyCombo> pressed =
            HotKeyCombo::fromKeyPress(text, Qt::ControlModifier | Qt::AltModifier)) {
        checkCombo(*pressed);
    }
    if (const std::optional<PasteKeystroke> keystroke = PasteKeyTable::parse(text)) {
        SNIPJAR_FUZZ_CHECK(PasteKeyTable::parse(PasteKeyTable::text(*keystroke)) == keystroke);
    }
    keyComboText(size > 0 ? data[0] << 8 : 0, text);
    return 0;
}
