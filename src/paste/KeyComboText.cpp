#include "paste/KeyComboText.h"

#include "paste/HotKeyCombo.h"

#include <QStringList>

namespace snipjar {

QString keyComboText(quint32 modifierBits, const QString& keyName) {
    static const struct {
        quint32 bit;
        const char* name;
    } modifierNames[] = {
        {HotKeyCombo::commandBit, "Ctrl"},
        {HotKeyCombo::optionBit, "Alt"},
        {HotKeyCombo::shiftBit, "Shift"},
        {HotKeyCombo::controlBit, "Super"},
    };
    QStringList parts;
    for (const auto& modifier : modifierNames) {
        if (modifierBits & modifier.bit) {
            parts.append(QString::fromLatin1(modifier.name));
        }
    }
    if (!keyName.isEmpty()) {
        parts.append(keyName);
    }
    return parts.join(QLatin1Char('+'));
}

} // namespace snipjar
