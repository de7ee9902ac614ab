#include "app/client/CommandClient.h"

#include "app/SingleInstance.h"
#include "app/cli/InstanceClient.h"
#include "app/cli/TextInput.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace snipjar {

namespace {

using Command = CommandLine::Command;

// The application binary: beside this one in a build folder, else where it is installed relative
// to this one (so that a package installed under any prefix finds it), else the configured place.
QByteArray applicationPath() {
    const QString folder =
        QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).absolutePath();
    for (const QString& candidate : {folder + QStringLiteral("/snipjar-app"),
                                     folder + QStringLiteral("/" SNIPJAR_APPLICATION_FROM_BINARY)}) {
        if (QFileInfo(candidate).isExecutable()) {
            return QFile::encodeName(candidate);
        }
    }
    return QByteArrayLiteral(SNIPJAR_APPLICATION_PATH);
}

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
    case Command::showSettings:
    case Command::quit:
        return true;
    case Command::add:
        return commandLine.files.isEmpty() &&
               (!commandLine.kind || *commandLine.kind == QLatin1String("text"));
    case Command::clear:
        return commandLine.yes;
    default:
        return false;
    }
}

std::optional<int> CommandClient::answer(const CommandLine& commandLine, int argc, char** argv) {
    if (!answersItself(commandLine)) {
        return std::nullopt;
    }
    // The folders of the lock and the socket are the application's.
    const QCoreApplication application(argc, argv);
    if (const std::optional<QString> problem =
            SingleInstance::untrustedFolder(SingleInstance::FolderUse::lookOnly)) {
        return CommandOutcome::failure(*problem).print();
    }
    if (!instanceRuns()) {
        return std::nullopt;
    }
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));
    CommandLine request = commandLine;
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

int CommandClient::handOver(char** argv) {
    const QByteArray path = applicationPath();
    // What the application writes into its launch-at-login entry.
    ::setenv("SNIPJAR_COMMAND",
             QFile::encodeName(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()), 1);
    ::execv(path.constData(), argv);
    std::fprintf(stderr, "snipjar: cannot start %s: %s\n", path.constData(), std::strerror(errno));
    return 1;
}

} // namespace snipjar
