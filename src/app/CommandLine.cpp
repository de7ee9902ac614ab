#include "app/CommandLine.h"

#include "app/CommandLineRules.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <array>

namespace snipjar {

namespace {

using Command = CommandLine::Command;
using namespace commandline;

struct CommandName {
    Command command;
    const char* name;
    const char* usage;
};

const std::array<CommandName, 25> commandNames{{
    {Command::list, "list",
     "list [--json | -0] [--limit N] [--kind text|image|file|rich] [--pinned] [--device NAME] [--since DATE] "
     "[--until DATE]"},
    {Command::search, "search",
     "search QUERY [--json | -0] [--limit N] [--kind text|image|file|rich] [--pinned] [--device NAME] "
     "[--since DATE] [--until DATE]"},
    {Command::show, "show", "show ID [--raw | --mime TYPE | --list-types [--json]] [--force]"},
    {Command::add, "add", "add [--kind text|rich|image | --mime TYPE] [--text STRING | --file PATH...]"},
    {Command::copy, "copy", "copy ID | copy - [--mime TYPE]"},
    {Command::paste, "paste", "paste ID"},
    {Command::pin, "pin", "pin ID"},
    {Command::unpin, "unpin", "unpin ID"},
    {Command::remove, "delete", "delete ID..."},
    {Command::clear, "clear", "clear [--keep-pinned] [--yes]"},
    {Command::pause, "pause", "pause [MINUTES]"},
    {Command::resume, "resume", "resume"},
    {Command::showPanel, "show-panel", "show-panel"},
    {Command::showSettings, "show-settings", "show-settings"},
    {Command::quit, "quit", "quit"},
    {Command::status, "status", "status [--json]"},
    {Command::config, "config", "config [KEY [VALUE]]"},
    {Command::clipboard, "clipboard", "clipboard [--primary] [--mime TYPE]"},
    {Command::exportHistory, "export", "export FILE"},
    {Command::importHistory, "import", "import FILE"},
    {Command::watch, "watch", "watch [--json | --exec COMMAND]"},
    {Command::sync, "sync", "sync sign-in SERVER USER [--trust FINGERPRINT] | sync sign-out"},
    {Command::help, "help", "help [COMMAND]"},
    {Command::version, "version", "--version"},
    {Command::completions, "completions", "completions bash|zsh|fish"},
}};

const CommandName* entryOf(Command command) {
    for (const CommandName& entry : commandNames) {
        if (entry.command == command) {
            return &entry;
        }
    }
    return nullptr;
}

CommandLine failure(Command command, const QString& message) {
    CommandLine result;
    result.command = command;
    result.error = message;
    return result;
}

// Reads the words after the command name. Options may come before, between or after the
// positional words; "--" ends the options.
class WordReader {
public:
    WordReader(Command command, QStringList words)
        : command(command)
        , words(std::move(words)) {}

    std::optional<QString> parse(CommandLine& result) {
        bool optionsEnded = false;
        for (index = 0; index < words.size(); ++index) {
            const QString word = words.at(index);
            const bool nulOption =
                word == QLatin1String("-0") && (command == Command::list || command == Command::search);
            if (optionsEnded || (!word.startsWith(QLatin1String("--")) && !nulOption) ||
                word == QLatin1String("-")) {
                positional << word;
                continue;
            }
            if (word == QLatin1String("--")) {
                optionsEnded = true;
                continue;
            }
            if (word == QLatin1String("--help")) {
                result.helpTopic = CommandLine::name(command);
                result.command = Command::help;
                return std::nullopt;
            }
            if (const std::optional<QString> error = option(result, word)) {
                return error;
            }
        }
        if (result.nulSeparated && result.json) {
            return QStringLiteral("-0 separates the lines of text output; --json prints one document");
        }
        if (result.json && command == Command::show && !result.listTypes) {
            return QStringLiteral("--json goes with --list-types");
        }
        if (command == Command::show &&
            int(result.raw) + int(result.mimeType.has_value()) + int(result.listTypes) > 1) {
            return QStringLiteral("--raw, --mime and --list-types each choose what show prints; give one");
        }
        if (command == Command::add && result.mimeType && (result.kind || result.text || readingFiles)) {
            return QStringLiteral("--mime reads standard input as that type; drop --kind, --text and --file");
        }
        if (result.exec && result.json) {
            return QStringLiteral("--exec runs a command per clip instead of printing lines; drop --json");
        }
        return positionals(result);
    }

private:
    std::optional<QString> option(CommandLine& result, const QString& word) {
        const QString name = word.section(QLatin1Char('='), 0, 0);
        auto value = [&]() -> std::optional<QString> {
            if (word.contains(QLatin1Char('='))) {
                return word.section(QLatin1Char('='), 1);
            }
            if (index + 1 < words.size()) {
                return words.at(++index);
            }
            return std::nullopt;
        };
        const bool listing = command == Command::list || command == Command::search;
        if (name == QLatin1String("--json") && (listing || command == Command::status ||
                                                command == Command::watch || command == Command::show)) {
            result.json = true;
        } else if (name == QLatin1String("--pinned") && listing) {
            result.pinnedOnly = true;
        } else if (name == QLatin1String("-0") && listing) {
            result.nulSeparated = true;
        } else if ((name == QLatin1String("--since") || name == QLatin1String("--until")) && listing) {
            const bool until = name == QLatin1String("--until");
            const std::optional<QString> given = value();
            const std::optional<QDateTime> moment = given ? parseTime(*given, until) : std::nullopt;
            if (!moment) {
                return timeError(name);
            }
            (until ? result.until : result.since) = moment;
        } else if (name == QLatin1String("--exec") && command == Command::watch) {
            const std::optional<QString> given = value();
            if (!given || given->trimmed().isEmpty()) {
                return QStringLiteral("--exec needs a command");
            }
            result.exec = *given;
        } else if (name == QLatin1String("--trust") && command == Command::sync) {
            const std::optional<QString> given = value();
            if (!given || given->isEmpty()) {
                return QStringLiteral("--trust needs the certificate's SHA-256 fingerprint");
            }
            result.trustFingerprint = *given;
        } else if (name == QLatin1String("--raw") && command == Command::show) {
            result.raw = true;
        } else if (name == QLatin1String("--list-types") && command == Command::show) {
            result.listTypes = true;
        } else if (name == QLatin1String("--force") && command == Command::show) {
            result.force = true;
        } else if (name == QLatin1String("--keep-pinned") && command == Command::clear) {
            result.keepPinned = true;
        } else if (name == QLatin1String("--yes") && command == Command::clear) {
            result.yes = true;
        } else if (name == QLatin1String("--limit") && listing) {
            const std::optional<QString> given = value();
            bool ok = false;
            const int number = given ? given->toInt(&ok) : -1;
            if (!ok || number < 0) {
                return given ? limitError(*given) : QStringLiteral("--limit needs a number");
            }
            result.limit = number;
        } else if (name == QLatin1String("--kind") && !kindsFor(command).isEmpty()) {
            const std::optional<QString> given = value();
            if (!given || !kindsFor(command).contains(*given)) {
                return kindError(command);
            }
            result.kind = *given;
        } else if (name == QLatin1String("--device") && listing) {
            const std::optional<QString> given = value();
            if (!given || given->isEmpty()) {
                return QStringLiteral("--device needs a computer's name");
            }
            result.device = *given;
        } else if (name == QLatin1String("--primary") && command == Command::clipboard) {
            result.primary = true;
        } else if (name == QLatin1String("--mime") &&
                   (command == Command::clipboard || command == Command::copy || command == Command::show ||
                    command == Command::add)) {
            const std::optional<QString> given = value();
            // A MIME type: type "/" subtype, printable ASCII without spaces.
            static const QRegularExpression mime(QStringLiteral("^[!-~]{1,127}/[!-~]{1,127}$"));
            if (!given || !mime.match(*given).hasMatch()) {
                return QStringLiteral("--mime needs a MIME type such as text/html");
            }
            result.mimeType = *given;
        } else if (name == QLatin1String("--text") && command == Command::add) {
            const std::optional<QString> given = value();
            if (!given) {
                return QStringLiteral("--text needs a string");
            }
            result.text = *given;
        } else if (name == QLatin1String("--file") && command == Command::add) {
            readingFiles = true;
            if (word.contains(QLatin1Char('='))) {
                positional << word.section(QLatin1Char('='), 1);
            }
        } else {
            return QStringLiteral("unknown option \"%1\" for %2").arg(word, CommandLine::name(command));
        }
        return std::nullopt;
    }

    std::optional<QString> positionals(CommandLine& result) {
        const QString commandName = CommandLine::name(command);
        auto none = [&]() -> std::optional<QString> {
            if (!positional.isEmpty()) {
                return QStringLiteral("unexpected argument \"%1\"").arg(positional.first());
            }
            return std::nullopt;
        };
        switch (command) {
        case Command::search:
            if (positional.size() != 1) {
                return QStringLiteral("search needs one QUERY (quote a query with spaces)");
            }
            result.query = positional.first();
            return std::nullopt;
        case Command::copy:
            if (positional == QStringList{QStringLiteral("-")}) {
                result.fromStandardInput = true;
                return std::nullopt;
            }
            if (result.mimeType) {
                return QStringLiteral("--mime goes with copy - (standard input)");
            }
            [[fallthrough]];
        case Command::show:
        case Command::paste:
        case Command::pin:
        case Command::unpin:
            if (positional.size() != 1) {
                return QStringLiteral("%1 needs one ID").arg(commandName);
            }
            result.ids = positional;
            return std::nullopt;
        case Command::remove:
            if (positional.isEmpty()) {
                return QStringLiteral("delete needs at least one ID");
            }
            result.ids = positional;
            return std::nullopt;
        case Command::pause: {
            if (positional.size() > 1) {
                return QStringLiteral("unexpected argument \"%1\"").arg(positional.at(1));
            }
            if (positional.size() == 1) {
                bool ok = false;
                const int number = positional.first().toInt(&ok);
                if (!ok || number <= 0 || number > maximumPauseMinutes) {
                    return pauseRangeError(positional.first());
                }
                result.minutes = number;
            }
            return std::nullopt;
        }
        case Command::config:
            if (positional.size() > 2) {
                return QStringLiteral("unexpected argument \"%1\"").arg(positional.at(2));
            }
            if (!positional.isEmpty()) {
                result.settingKey = positional.at(0);
            }
            if (positional.size() == 2) {
                result.settingValue = positional.at(1);
            }
            return std::nullopt;
        case Command::add:
            if (!readingFiles) {
                return none();
            }
            if (positional.isEmpty()) {
                return QStringLiteral("--file needs at least one PATH");
            }
            if (result.text || result.kind) {
                return QStringLiteral("--file cannot be combined with --text or --kind");
            }
            for (const QString& path : positional) {
                result.files << QDir::cleanPath(QFileInfo(path).absoluteFilePath());
            }
            return std::nullopt;
        case Command::exportHistory:
        case Command::importHistory:
            if (positional.size() != 1 || positional.first().isEmpty()) {
                return QStringLiteral("%1 needs one FILE").arg(commandName);
            }
            result.path = QDir::cleanPath(QFileInfo(positional.first()).absoluteFilePath());
            return std::nullopt;
        case Command::completions:
            if (positional.size() != 1 || !QStringList{"bash", "zsh", "fish"}.contains(positional.first())) {
                return QStringLiteral("completions needs one shell: bash, zsh or fish");
            }
            result.shell = positional.first();
            return std::nullopt;
        case Command::sync:
            if (positional.value(0) == QLatin1String("sign-in") && positional.size() == 3) {
                result.syncAction = positional.at(0);
                result.syncServer = positional.at(1);
                result.syncUser = positional.at(2);
                return std::nullopt;
            }
            if (positional == QStringList{QStringLiteral("sign-out")} && !result.trustFingerprint) {
                result.syncAction = positional.at(0);
                return std::nullopt;
            }
            return QStringLiteral("sync needs sign-in SERVER USER, or sign-out");
        case Command::help:
            if (positional.size() > 1) {
                return QStringLiteral("unexpected argument \"%1\"").arg(positional.at(1));
            }
            if (!positional.isEmpty()) {
                if (!CommandLine::commandNamed(positional.first())) {
                    return QStringLiteral("unknown command \"%1\"").arg(positional.first());
                }
                result.helpTopic = positional.first();
            }
            return std::nullopt;
        default:
            return none();
        }
    }

    Command command;
    QStringList words;
    QStringList positional;
    qsizetype index = 0;
    bool readingFiles = false;
};

} // namespace

QString CommandLine::name(Command command) {
    const CommandName* entry = entryOf(command);
    return entry ? QString::fromLatin1(entry->name) : QString();
}

std::optional<CommandLine::Command> CommandLine::commandNamed(const QString& name) {
    for (const CommandName& entry : commandNames) {
        if (name == QLatin1String(entry.name) && entry.command != Command::version) {
            return entry.command;
        }
    }
    return std::nullopt;
}

QString CommandLine::usage(Command command) {
    if (const CommandName* entry = entryOf(command); entry && command != Command::version) {
        return QStringLiteral("usage: snipjar ") + QLatin1String(entry->usage);
    }
    return QStringLiteral("usage: snipjar [COMMAND [OPTIONS]] (snipjar --help lists the commands)");
}

CommandLine CommandLine::parse(const QStringList& arguments) {
    // arguments[0] is the program name.
    const QStringList words = arguments.mid(1);
    CommandLine result;
    if (words.isEmpty()) {
        return result;
    }
    const QString& first = words.first();
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        result.command = Command::version;
        if (words.size() > 1) {
            return failure(Command::run, QStringLiteral("unexpected argument \"%1\"").arg(words.at(1)));
        }
        return result;
    }
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        result.command = Command::help;
        if (words.size() > 1) {
            return failure(Command::run, QStringLiteral("unexpected argument \"%1\"").arg(words.at(1)));
        }
        return result;
    }
    const std::optional<Command> command = commandNamed(first);
    if (!command) {
        return failure(Command::run, QStringLiteral("unknown command \"%1\"").arg(first));
    }
    result.command = *command;
    WordReader reader(*command, words.mid(1));
    if (const std::optional<QString> error = reader.parse(result)) {
        return failure(*command, *error);
    }
    return result;
}

bool CommandLine::needsInstance() const {
    switch (command) {
    case Command::pause:
    case Command::resume:
    case Command::showPanel:
    case Command::showSettings:
    case Command::quit:
    case Command::watch:
        return true;
    default:
        return false;
    }
}

} // namespace snipjar
