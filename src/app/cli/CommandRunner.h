#pragma once

#include "app/CommandLine.h"
#include "app/cli/CommandOutcome.h"

namespace snipjar {

class HistoryAccess;

// Carries out the commands that work on the history alone (list, search, show, add, pin, unpin,
// delete, clear), in the running Snipjar or in the command process alike.
class CommandRunner {
public:
    // True for the commands run() carries out.
    static bool handles(CommandLine::Command command);
    static CommandOutcome run(const CommandLine& commandLine, HistoryAccess& access);
};

} // namespace snipjar
