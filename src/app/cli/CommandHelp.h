#pragma once

#include "app/CommandLine.h"

#include <QString>

namespace snipjar {

// The texts of `snipjar --help` (every command with one line, laid out the way help2man reads it)
// and of `snipjar help COMMAND` (the command's usage, what it does, its options and exit status).
class CommandHelp {
public:
    static QString overview();
    static QString of(CommandLine::Command command);
    // The commands the help describes, in its order, and the one line that describes each.
    static QList<CommandLine::Command> commands();
    static QString summary(CommandLine::Command command);
};

} // namespace snipjar
