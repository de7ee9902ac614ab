#include "panel/DisplayText.h"

#include "model/Clip.h"

namespace snipjar {

namespace {

constexpr int displayedCharacterLimit = 500;

// The marks, embeddings, overrides and isolates of bidirectional text. Shown, one of them can
// reverse the rest of a title or drag the row's neighbouring text into its direction.
bool isBidiControl(QChar character) {
    const char16_t c = character.unicode();
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString displayText(const QString& text) {
    QString cut = Clip::leadingCharacters(text, displayedCharacterLimit);
    cut.removeIf(isBidiControl);
    for (QChar& character : cut) {
        if (character.isSpace() || character.category() == QChar::Other_Control) {
            character = QLatin1Char(' ');
        }
    }
    return cut.split(QLatin1Char(' '), Qt::SkipEmptyParts).join(QLatin1Char(' '));
}

} // namespace snipjar
