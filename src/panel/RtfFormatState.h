#pragma once

#include <Qt>

#include <cstdint>

namespace snipjar {

// The character formatting in effect at a point of an RTF document. Compared as a whole to decide
// where one styled run ends and the next begins.
struct RtfCharacterState {
    enum class Position : std::uint8_t { normal, superscript, subscript };

    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    bool hidden = false;
    Position position = Position::normal;
    // Half-points; 0 when the document gave none, so the view's own size applies.
    int fontSize = 0;
    // Index into the font table; -1 for the document's default font.
    int font = -1;
    // Indices into the colour table; -1 for none.
    int foreground = -1;
    int background = -1;

    bool operator==(const RtfCharacterState&) const = default;
};

struct RtfParagraphState {
    Qt::Alignment alignment = Qt::AlignLeft;

    bool operator==(const RtfParagraphState&) const = default;
};

} // namespace snipjar
