#include "panel/DisplayText.h"

#include "model/Clip.h"

namespace snipjar {

namespace {

constexpr int displayedCharacterLimit = 500;

} // namespace

QString displayText(const QString& text) {
    QString cut = Clip::leadingCharacters(text, displayedCharacterLimit);
    cut.removeIf([](QChar character) { return isBidiControl(character.unicode()); });
    for (QChar& character : cut) {
        if (character.isSpace() || character.category() == QChar::Other_Control) {
            character = QLatin1Char(' ');
        }
    }
    return cut.split(QLatin1Char(' '), Qt::SkipEmptyParts).join(QLatin1Char(' '));
}

bool isBidiControl(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

} // namespace snipjar
