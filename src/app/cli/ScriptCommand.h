#pragma once

#include "app/CommandLine.h"

#include <optional>

namespace snipjar {

// Runs a command of the command line in this process: reads what `add` adds and asks before
// `clear`, then sends the command to the running Snipjar, or carries it out on the store files
// when none runs. Writes the output and the one-line error, and gives the exit status.
class ScriptCommand {
public:
    static int run(CommandLine commandLine, int argc, char** argv);
    // Sends the command to the running Snipjar and prints its answer; none when no Snipjar runs.
    static std::optional<int> sendToRunning(const CommandLine& commandLine, int argc, char** argv);
};

} // namespace snipjar
