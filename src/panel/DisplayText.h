#pragma once

#include <QString>

namespace snipjar {

// The one-line form of a row's text, shared by the row's title and the words a screen reader says
// for it: its first 500 characters with every run of whitespace or control characters (line breaks
// included) collapsed into one space and none left at either end. The cut comes first, so a very
// long clip costs no more than a short one.
QString displayText(const QString& text);

// The marks, embeddings, overrides and isolates of bidirectional text. Shown, one of them can
// reverse the rest of a title or drag the neighbouring text into its direction.
bool isBidiControl(char32_t c);

} // namespace snipjar
