#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>

namespace snipjar {

// What the command line writes where a person reads it. A terminal acts on control characters: an
// ESC or an 8-bit CSI in a clip's title could retitle the window, move the cursor or answer back
// through the terminal's input. Written to a terminal, they are shown escaped ("\x1B", "\u009B");
// written to a pipe or a file, the bytes stay as they are for the program that reads them.
class TerminalText {
public:
    // The bytes with every control character but the line feed and the tab written out.
    static QByteArray escaped(const QByteArray& bytes);
    // Writes the bytes, escaped when the stream is a terminal, and flushes.
    static void write(FILE* stream, const QByteArray& bytes);
};

} // namespace snipjar
