#include "app/cli/CommandRunner.h"

#include "app/cli/ClipCommands.h"
#include "app/cli/HistoryExport.h"
#include "app/cli/HistoryImport.h"
#include "app/cli/ListCommand.h"
#include "app/cli/SettingsCommand.h"
#include "app/cli/StatusCommand.h"
#include "store/HistoryReader.h"

namespace snipjar {

using Command = CommandLine::Command;

bool CommandRunner::handles(Command command) {
    switch (command) {
    case Command::list:
    case Command::search:
    case Command::show:
    case Command::add:
    case Command::pin:
    case Command::unpin:
    case Command::remove:
    case Command::clear:
    case Command::exportHistory:
    case Command::importHistory:
        return true;
    default:
        return false;
    }
}

CommandOutcome CommandRunner::run(const CommandLine& commandLine, HistoryAccess& access) {
    switch (commandLine.command) {
    case Command::list:
        return ListCommand::list(commandLine, access);
    case Command::search:
        return ListCommand::search(commandLine, access);
    case Command::show:
        return ListCommand::show(commandLine, access);
    case Command::add:
        return ClipCommands::add(commandLine, access);
    case Command::pin:
        return ClipCommands::setPinned(commandLine, access, true);
    case Command::unpin:
        return ClipCommands::setPinned(commandLine, access, false);
    case Command::remove:
        return ClipCommands::remove(commandLine, access);
    case Command::clear:
        return ClipCommands::clear(commandLine, access);
    case Command::status:
        // Run here only without a running Snipjar, which answers it itself.
        return StatusCommand::report(commandLine, access, std::nullopt);
    case Command::config:
        return SettingsCommand::run(commandLine);
    case Command::exportHistory:
        return HistoryExport::write(commandLine.path, HistoryReader());
    case Command::importHistory:
        return HistoryImport::run(commandLine.path, access);
    default:
        return CommandOutcome::usageError(QStringLiteral("%1 is not a command for the history")
                                              .arg(CommandLine::name(commandLine.command)));
    }
}

} // namespace snipjar
