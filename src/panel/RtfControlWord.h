#pragma once

#include <QByteArrayView>

namespace snipjar {

// What a control word does to the reader. Words not listed are ignored, as RTF asks of readers.
enum class RtfControl {
    unknown,
    // Document and code pages.
    rtf,
    ansi,
    mac,
    pc,
    pca,
    ansicpg,
    defaultFont,
    // Destinations.
    fontTable,
    colorTable,
    skippedDestination,
    unicodePair,
    unicodeAlternative,
    // Font table entries.
    font,
    fontCharset,
    fontCodePage,
    fontFamilyRoman,
    fontFamilySwiss,
    fontFamilyModern,
    fontFamilyScript,
    fontFamilyDecor,
    fontFamilyTech,
    // Colour table entries.
    red,
    green,
    blue,
    // Breaks.
    paragraph,
    lineBreak,
    cell,
    // Characters written as words: \tab, \emdash, \bullet and the like.
    character,
    // Unicode characters and the count of fallback characters after them.
    unicode,
    unicodeSkip,
    // Character formatting.
    plain,
    bold,
    italic,
    underline,
    underlineNone,
    strikeOut,
    hidden,
    superscript,
    subscript,
    noSuperSub,
    fontSize,
    foreground,
    background,
    // Paragraph formatting.
    paragraphDefault,
    alignLeft,
    alignRight,
    alignCenter,
    alignJustify,
};

struct RtfControlWord {
    RtfControl control = RtfControl::unknown;
    // The character a word of kind `character` stands for.
    char16_t character = 0;
};

RtfControlWord rtfControlWord(QByteArrayView name);

} // namespace snipjar
