#include "app/CommandLine.h"

#include "platform/ActivationToken.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>

#include <algorithm>
#include <array>

namespace snipjar {

namespace {

using Command = CommandLine::Command;

// A week; longer pauses are better ended by hand.
constexpr int maximumPauseMinutes = 7 * 24 * 60;

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

QString pauseRangeError(const QString& given) {
    return QStringLiteral("pause needs a number of minutes from 1 to %1, not \"%2\"")
        .arg(maximumPauseMinutes)
        .arg(given);
}

QString limitError(const QString& given) {
    return QStringLiteral("--limit needs a number of 0 or more, not \"%1\"").arg(given);
}

// The kinds `list --kind` filters by and `add --kind` files; none for the other commands.
QStringList kindsFor(Command command) {
    switch (command) {
    case Command::list:
    case Command::search:
        return {QStringLiteral("text"), QStringLiteral("image"), QStringLiteral("file"),
                QStringLiteral("rich")};
    case Command::add:
        return {QStringLiteral("text"), QStringLiteral("rich"), QStringLiteral("image")};
    default:
        return {};
    }
}

QString kindError(Command command) {
    return QStringLiteral("--kind needs one of %1").arg(kindsFor(command).join(QLatin1Char('|')));
}

// --since and --until: an ISO 8601 date and time (local time unless it names its offset), or a
// date alone, which --since takes from the start of that day and --until up to its end.
std::optional<QDateTime> parseTime(const QString& text, bool untilEndOfDay) {
    const QDateTime moment = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (moment.isValid() && text.contains(QLatin1Char('T'))) {
        return moment;
    }
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (!day.isValid()) {
        return std::nullopt;
    }
    return (untilEndOfDay ? day.addDays(1) : day).startOfDay();
}

QString timeError(const QString& option) {
    return QStringLiteral("%1 needs a date such as 2026-12-08 or a time such as 2026-12-08T14:30")
        .arg(option);
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

QJsonObject CommandLine::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("command"), name(command));
    object.insert(QStringLiteral("json"), json);
    if (limit) {
        object.insert(QStringLiteral("limit"), *limit);
    }
    if (kind) {
        object.insert(QStringLiteral("kind"), *kind);
    }
    object.insert(QStringLiteral("pinned"), pinnedOnly);
    if (device) {
        object.insert(QStringLiteral("device"), *device);
    }
    if (since) {
        object.insert(QStringLiteral("since"), since->toUTC().toString(Qt::ISODateWithMs));
    }
    if (until) {
        object.insert(QStringLiteral("until"), until->toUTC().toString(Qt::ISODateWithMs));
    }
    object.insert(QStringLiteral("nul"), nulSeparated);
    if (settingKey) {
        object.insert(QStringLiteral("settingKey"), *settingKey);
    }
    if (mimeType) {
        object.insert(QStringLiteral("mime"), *mimeType);
    }
    object.insert(QStringLiteral("fromStandardInput"), fromStandardInput);
    if (settingValue) {
        object.insert(QStringLiteral("settingValue"), *settingValue);
    }
    object.insert(QStringLiteral("query"), query);
    object.insert(QStringLiteral("ids"), QJsonArray::fromStringList(ids));
    object.insert(QStringLiteral("raw"), raw);
    object.insert(QStringLiteral("listTypes"), listTypes);
    object.insert(QStringLiteral("force"), force);
    object.insert(QStringLiteral("keepPinned"), keepPinned);
    if (minutes) {
        object.insert(QStringLiteral("minutes"), *minutes);
    }
    if (content) {
        QJsonObject added;
        added.insert(QStringLiteral("kind"), int(content->kind));
        added.insert(QStringLiteral("text"), content->text);
        added.insert(QStringLiteral("bytes"), QString::fromLatin1(content->bytes.toBase64()));
        added.insert(QStringLiteral("files"), QJsonArray::fromStringList(content->fileURLs));
        object.insert(QStringLiteral("content"), added);
    }
    if (!path.isEmpty()) {
        object.insert(QStringLiteral("path"), path);
    }
    if (activationToken) {
        object.insert(QStringLiteral("activationToken"), *activationToken);
    }
    return object;
}

CommandLine CommandLine::fromJson(const QJsonObject& object) {
    CommandLine result;
    const std::optional<Command> command = commandNamed(object.value(QStringLiteral("command")).toString());
    if (!command) {
        result.error =
            QStringLiteral("unknown command \"%1\"").arg(object.value(QStringLiteral("command")).toString());
        return result;
    }
    result.command = *command;
    result.json = object.value(QStringLiteral("json")).toBool();
    // The socket is checked as the command line is: another process gets no option a terminal
    // could not give.
    if (object.contains(QStringLiteral("limit"))) {
        const int limit = object.value(QStringLiteral("limit")).toInt(-1);
        if (limit < 0) {
            result.error = limitError(object.value(QStringLiteral("limit")).toVariant().toString());
            return result;
        }
        result.limit = limit;
    }
    if (object.contains(QStringLiteral("kind"))) {
        const QString kind = object.value(QStringLiteral("kind")).toString();
        if (!kindsFor(*command).contains(kind)) {
            result.error = kindError(*command);
            return result;
        }
        result.kind = kind;
    }
    result.pinnedOnly = object.value(QStringLiteral("pinned")).toBool();
    if (object.contains(QStringLiteral("device"))) {
        result.device = object.value(QStringLiteral("device")).toString();
    }
    for (const auto& [key, moment] : {std::pair{QStringLiteral("since"), &result.since},
                                      std::pair{QStringLiteral("until"), &result.until}}) {
        if (object.contains(key)) {
            const QDateTime parsed = QDateTime::fromString(object.value(key).toString(), Qt::ISODateWithMs);
            if (!parsed.isValid()) {
                result.error = timeError(QStringLiteral("--") + key);
                return result;
            }
            *moment = parsed;
        }
    }
    result.nulSeparated = object.value(QStringLiteral("nul")).toBool();
    if (object.contains(QStringLiteral("mime"))) {
        result.mimeType = object.value(QStringLiteral("mime")).toString().left(255);
    }
    result.fromStandardInput = object.value(QStringLiteral("fromStandardInput")).toBool();
    if (object.contains(QStringLiteral("settingKey"))) {
        result.settingKey = object.value(QStringLiteral("settingKey")).toString();
    }
    if (object.contains(QStringLiteral("settingValue"))) {
        result.settingValue = object.value(QStringLiteral("settingValue")).toString();
    }
    result.query = object.value(QStringLiteral("query")).toString();
    for (const QJsonValue& id : object.value(QStringLiteral("ids")).toArray()) {
        result.ids << id.toString();
    }
    result.raw = object.value(QStringLiteral("raw")).toBool();
    result.listTypes = object.value(QStringLiteral("listTypes")).toBool();
    result.force = object.value(QStringLiteral("force")).toBool();
    result.keepPinned = object.value(QStringLiteral("keepPinned")).toBool();
    result.yes = true;
    if (object.contains(QStringLiteral("minutes"))) {
        // A pause of no time or of years is refused.
        const int minutes = object.value(QStringLiteral("minutes")).toInt(-1);
        if (minutes <= 0 || minutes > maximumPauseMinutes) {
            result.error = pauseRangeError(object.value(QStringLiteral("minutes")).toVariant().toString());
            return result;
        }
        result.minutes = minutes;
    }
    if (*command == Command::exportHistory || *command == Command::importHistory) {
        // The running copy reads or writes this file for its user: a path relative to wherever
        // that copy was started is refused, as is a missing one.
        result.path = object.value(QStringLiteral("path")).toString();
        if (!QDir::isAbsolutePath(result.path)) {
            result.error = QStringLiteral("%1 needs one FILE").arg(name(*command));
            return result;
        }
    }
    if (object.contains(QStringLiteral("content"))) {
        const QJsonObject added = object.value(QStringLiteral("content")).toObject();
        Content content;
        content.kind = Content::Kind(
            std::clamp(added.value(QStringLiteral("kind")).toInt(), 0, int(Content::Kind::html)));
        content.text = added.value(QStringLiteral("text")).toString();
        content.bytes = QByteArray::fromBase64(added.value(QStringLiteral("bytes")).toString().toLatin1());
        for (const QJsonValue& url : added.value(QStringLiteral("files")).toArray()) {
            content.fileURLs << url.toString();
        }
        result.content = std::move(content);
    }
    // A token that cannot be one is dropped, not refused: the window still opens, only the
    // desktop may keep the focus where it was.
    result.activationToken =
        ActivationToken::checked(object.value(QStringLiteral("activationToken")).toString());
    return result;
}

} // namespace snipjar
