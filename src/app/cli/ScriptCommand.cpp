#include "app/cli/ScriptCommand.h"

#include "app/cli/ClipIds.h"
#include "app/cli/ClipInput.h"
#include "app/cli/ClipboardReading.h"
#include "app/cli/ClipboardServer.h"
#include "app/cli/CommandRunner.h"
#include "app/cli/DirectAccess.h"
#include "app/cli/InstanceClient.h"
#include "app/cli/SyncCommand.h"
#include "app/cli/TextInput.h"
#include "app/cli/WatchClient.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace snipjar {

namespace {

using Command = CommandLine::Command;

int finish(const CommandOutcome& outcome) {
    return outcome.print();
}

// True when the user said yes; asks on standard error, reads standard input.
bool confirmed(const CommandLine& commandLine) {
    const char* question = commandLine.keepPinned ? "Delete every clip that is not pinned? [y/N] "
                                                  : "Delete every clip of the history? [y/N] ";
    std::fputs(question, stderr);
    std::fflush(stderr);
    char answer[16] = {};
    if (!std::fgets(answer, sizeof answer, stdin)) {
        return false;
    }
    return answer[0] == 'y' || answer[0] == 'Y';
}

// copy and paste without a running Snipjar: this process serves the clipboard itself.
int serveClipboard(const CommandLine& commandLine, std::unique_ptr<QCoreApplication>& application, int argc,
                   char** argv) {
    DirectAccess access;
    const auto resolved = ClipIds::resolve(commandLine.ids.value(0), access.entries());
    if (const QString* error = std::get_if<QString>(&resolved)) {
        return finish(CommandOutcome::failure(*error));
    }
    const QUuid id = std::get<HistoryEntry>(resolved).item.id;
    const std::optional<Clip> clip = access.loadClip(id);
    if (!clip) {
        return finish(CommandOutcome::failure(
            QStringLiteral("the content of clip %1 cannot be read").arg(ClipIds::printed(id))));
    }
    const std::optional<PlatformBackend::Kind> backend = PlatformBackend::choose();
    if (!backend) {
        return finish(CommandOutcome::failure(PlatformBackend::unavailableMessage()));
    }
    application.reset();
    const QApplication gui(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return ClipboardServer::serve(*clip, commandLine.command == Command::paste, *backend);
}

} // namespace

std::optional<int> ScriptCommand::sendToRunning(const CommandLine& commandLine, int argc, char** argv) {
    const QCoreApplication application(argc, argv);
    if (const std::optional<CommandOutcome> answer = InstanceClient::send(commandLine)) {
        return finish(*answer);
    }
    return std::nullopt;
}

int ScriptCommand::run(CommandLine commandLine, int argc, char** argv) {
    // Standard error carries the command's one-line error only (QT_LOGGING_RULES still overrides).
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));
    if (commandLine.command == Command::clear && !commandLine.yes) {
        if (!::isatty(STDIN_FILENO)) {
            return finish(CommandOutcome::usageError(
                QStringLiteral("clear asks first; give --yes when standard input is not a terminal")));
        }
        if (!confirmed(commandLine)) {
            return finish(CommandOutcome::failure(QStringLiteral("nothing was deleted")));
        }
        commandLine.yes = true;
    }
    if (commandLine.command == Command::copy && commandLine.fromStandardInput) {
        std::optional<QByteArray> bytes = TextInput::readCapped(stdin, TextInput::largestBytes);
        if (!bytes || bytes->size() > TextInput::largestBytes) {
            return finish(CommandOutcome::failure(TextInput::tooLarge()));
        }
        if (bytes->isEmpty()) {
            return finish(CommandOutcome::failure(TextInput::empty()));
        }
        CommandLine::Content input;
        if (!commandLine.mimeType) {
            const std::optional<QString> text = TextInput::decode(*bytes);
            if (!text) {
                return finish(CommandOutcome::failure(TextInput::notText()));
            }
            input.text = *text;
        } else {
            input.bytes = std::move(*bytes);
        }
        commandLine.content = std::move(input);
    }
    if (commandLine.command == Command::add) {
        ClipInput::Result content = ClipInput::read(commandLine, stdin);
        if (const QString* error = std::get_if<QString>(&content)) {
            return finish(CommandOutcome::failure(*error));
        }
        commandLine.content = std::move(std::get<CommandLine::Content>(content));
    }

    auto application = std::make_unique<QCoreApplication>(argc, argv);
    if (commandLine.command == Command::clipboard) {
        // Read here, whether Snipjar runs or not: the running one would have to wait for the
        // clipboard's owner on its own thread of events.
        return finish(ClipboardReading::read(commandLine));
    }
    if (commandLine.command == Command::watch) {
        return WatchClient::run(commandLine);
    }
    if (commandLine.command == Command::sync) {
        return finish(SyncCommand::run(commandLine, stdin));
    }
    if (const std::optional<CommandOutcome> answer = InstanceClient::send(commandLine)) {
        return finish(*answer);
    }
    if (commandLine.needsInstance()) {
        return finish(CommandOutcome::failure(QStringLiteral("Snipjar is not running")));
    }
    if (commandLine.command == Command::copy && commandLine.fromStandardInput) {
        const std::optional<PlatformBackend::Kind> backend = PlatformBackend::choose();
        if (!backend) {
            return finish(CommandOutcome::failure(PlatformBackend::unavailableMessage()));
        }
        application.reset();
        const QApplication gui(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        return ClipboardServer::serve(ClipboardServer::standardInputContent(commandLine), *backend);
    }
    if (commandLine.command == Command::copy || commandLine.command == Command::paste) {
        return serveClipboard(commandLine, application, argc, argv);
    }
    DirectAccess access;
    return finish(CommandRunner::run(commandLine, access));
}

} // namespace snipjar
