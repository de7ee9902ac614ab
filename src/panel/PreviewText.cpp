#include "panel/PreviewText.h"

#include "model/Clip.h"

namespace snipjar {

namespace {

bool isLineBreak(QChar character) {
    switch (character.unicode()) {
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

} // namespace

PreviewText PreviewText::from(const QString& source, Counts counts) {
    PreviewText text;
    text.shown = Clip::leadingCharacters(source, shownCharacterLimit);
    // The shown text is a prefix of the source: fewer characters means fewer code units.
    text.truncated = text.shown.size() < source.size();
    if (counts == Counts::include) {
        text.charCount = Clip::characterCount(source);
        text.lineCount = countLines(source);
    }
    return text;
}

qsizetype PreviewText::countLines(QStringView text) {
    if (text.isEmpty()) {
        return 0;
    }
    qsizetype breaks = 0;
    for (qsizetype position = 0; position < text.size(); ++position) {
        if (!isLineBreak(text[position])) {
            continue;
        }
        // CR LF is one break, as it is one character.
        if (text[position] == u'\r' && position + 1 < text.size() && text[position + 1] == u'\n') {
            ++position;
        }
        ++breaks;
    }
    const qsizetype pieces = breaks + 1;
    return isLineBreak(text.back()) ? pieces - 1 : pieces;
}

} // namespace snipjar
