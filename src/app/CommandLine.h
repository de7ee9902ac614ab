#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace snipjar {

// The command line of the snipjar binary: no command starts the application; show-panel asks the
// running one to open its panel; the other commands are for scripts and need no display.
struct CommandLine {
    enum class Command { run, version, help, list, showPanel };

    Command command = Command::run;
    bool json = false;
    std::optional<int> limit;
    // Set when the arguments could not be understood; the binary prints the usage line and exits 2.
    std::optional<QString> error;

    static CommandLine parse(const QStringList& arguments);
    static QString usage();
};

} // namespace snipjar
