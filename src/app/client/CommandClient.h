#pragma once

#include "app/CommandLine.h"

#include <optional>

namespace snipjar {

// The `snipjar` that scripts run (a module of its own, see CommandClientModule.h). It links Qt Core
// and the instance socket only, so a command for the running Snipjar (list, search, show, add of
// text, pin, unpin, delete, pause, resume, quit…) costs little more than the round trip.
// Everything else (no command, help, a history without a running Snipjar, images, files, copy and
// paste of its own) is handed to the application binary, which takes the process over with the
// same arguments.
class CommandClient {
public:
    // The exit status when this process answered the command itself; none when the application
    // binary is to take over.
    static std::optional<int> answer(const CommandLine& commandLine, int argc, char** argv);

private:
    static bool answersItself(const CommandLine& commandLine);
};

} // namespace snipjar
