#pragma once

#include "app/CommandLine.h"
#include "app/cli/CommandOutcome.h"

namespace snipjar {

class HistoryAccess;

// The commands that change the history: add, pin, unpin, delete and clear. Each checks everything
// it was given before it changes anything, so a refused command leaves the history as it was.
class ClipCommands {
public:
    static CommandOutcome add(const CommandLine& commandLine, HistoryAccess& access);
    static CommandOutcome setPinned(const CommandLine& commandLine, HistoryAccess& access, bool pinned);
    static CommandOutcome remove(const CommandLine& commandLine, HistoryAccess& access);
    static CommandOutcome clear(const CommandLine& commandLine, HistoryAccess& access);
};

} // namespace snipjar
