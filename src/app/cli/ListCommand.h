#pragma once

#include "app/CommandLine.h"
#include "app/cli/CommandOutcome.h"
#include "model/Clip.h"

namespace snipjar {

class HistoryAccess;

// The commands that read the history: list, search and show.
class ListCommand {
public:
    static CommandOutcome list(const CommandLine& commandLine, HistoryAccess& access);
    static CommandOutcome search(const CommandLine& commandLine, HistoryAccess& access);
    static CommandOutcome show(const CommandLine& commandLine, HistoryAccess& access);

    // What show writes for a clip (without --mime or --list-types): text as UTF-8, rich text as its plain
    // text, an image as its bytes, files as their paths (one a line); with `raw`, the stored bytes (RTF, file
    // URLs).
    static QByteArray contentOf(const Clip& clip, bool raw);
};

} // namespace snipjar
