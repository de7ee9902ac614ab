#include "app/client/CommandClient.h"

#include "app/SingleInstance.h"
#include "app/cli/InstanceClient.h"
#include "app/cli/TextInput.h"
#include "app/cli/WatchClient.h"
#include "platform/ActivationToken.h"
#include "platform/AppIdentity.h"

#include <QCoreApplication>
#include <QLoggingCategory>

namespace snipjar {

namespace {

using Command = CommandLine::Command;

bool instanceRuns() {
    return SingleInstance().isHeldElsewhere();
}

} // namespace

bool CommandClient::answersItself(const CommandLine& commandLine) {
    if (commandLine.error) {
        return false;
    }
    switch (commandLine.command) {
    case Command::list:
    case Command::search:
    case Command::show:
    case Command::pin:
    case Command::unpin:
    case Command::remove:
    case Command::pause:
    case Command::resume:
    case Command::showPanel:
    case Command::showSettings:
    case Command::quit:
    case Command::status:
    case Command::config:
    case Command::watch:
        return true;
    case Command::add:
        return commandLine.files.isEmpty() && !commandLine.mimeType &&
               (!commandLine.kind || *commandLine.kind == QLatin1String("text"));
    case Command::clear:
        return commandLine.yes;
    default:
        return false;
    }
}

std::optional<int> CommandClient::answer(const CommandLine& commandLine, int argc, char** argv) {
    if (!commandLine.error && commandLine.command == Command::version) {
        // Scripts ask for it to see what is installed: the application's libraries are not worth
        // loading for one line.
        return CommandOutcome::success(AppIdentity::versionLine()).print();
    }
    if (!answersItself(commandLine)) {
        return std::nullopt;
    }
    // The folders of the lock and the socket are the application's.
    const QCoreApplication application(argc, argv);
    if (const std::optional<QString> problem =
            SingleInstance::untrustedFolder(SingleInstance::FolderUse::lookOnly)) {
        return CommandOutcome::failure(*problem).print();
    }
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));
    // watch needs the running Snipjar and says so itself; the application binary could do no more.
    if (commandLine.command == Command::watch) {
        return WatchClient::run(commandLine);
    }
    if (!instanceRuns()) {
        return std::nullopt;
    }
    CommandLine request = commandLine;
    if (request.command == Command::showPanel || request.command == Command::showSettings) {
        // The hot key of desktops that leave it to a command: the window the running Snipjar opens
        // may take the focus only with the token the desktop started this command with.
        request.activationToken = ActivationToken::fromEnvironment();
    }
    if (request.command == Command::add) {
        std::optional<QByteArray> bytes = request.text
                                              ? std::optional(request.text->toUtf8())
                                              : TextInput::readCapped(stdin, TextInput::largestBytes);
        if (!bytes || bytes->size() > TextInput::largestBytes) {
            return CommandOutcome::failure(TextInput::tooLarge()).print();
        }
        if (bytes->isEmpty()) {
            return CommandOutcome::failure(TextInput::empty()).print();
        }
        std::optional<QString> text = TextInput::decode(*bytes);
        if (!text) {
            return CommandOutcome::failure(TextInput::notText()).print();
        }
        request.content = CommandLine::Content{CommandLine::Content::Kind::text, std::move(*text), {}, {}};
    }
    if (const std::optional<CommandOutcome> outcome = InstanceClient::send(request)) {
        return outcome->print();
    }
    return CommandOutcome::failure(QStringLiteral("Snipjar is not running")).print();
}

} // namespace snipjar
