#include "panel/DisplayText.h"

#include "model/Clip.h"

namespace snipjar {

namespace {

constexpr int displayedCharacterLimit = 500;

} // namespace

QString displayText(const QString& text) {
    QString cut = Clip::leadingCharacters(text, displayedCharacterLimit);
    for (QChar& character : cut) {
        if (character.isSpace() || character.category() == QChar::Other_Control) {
            character = QLatin1Char(' ');
        }
    }
    return cut.split(QLatin1Char(' '), Qt::SkipEmptyParts).join(QLatin1Char(' '));
}

} // namespace snipjar
