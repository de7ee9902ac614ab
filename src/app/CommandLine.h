#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace snipjar {

// The command line of the snipjar binary. No command starts the application; the other commands
// are for scripts and terminals: they go to the running Snipjar over its socket when one runs,
// and to the store files otherwise. A parsed command travels to the running copy as JSON
// (toJson/fromJson), the content of `add` included.
struct CommandLine {
    enum class Command {
        run,
        version,
        help,
        list,
        search,
        show,
        add,
        copy,
        paste,
        pin,
        unpin,
        remove,
        clear,
        pause,
        resume,
        showPanel,
        showSettings,
        quit,
        status,
        config,
        clipboard,
        exportHistory,
        importHistory,
        watch,
        // Prints the shell completion script for bash, zsh or fish (the build installs them).
        completions,
        sync,
    };

    // What `add` files, read by the command process (standard input, --text, --file).
    struct Content {
        // html: `bytes` is the HTML and `text` its plain words.
        enum class Kind { text, rich, image, file, html };
        Kind kind = Kind::text;
        QString text;
        QByteArray bytes;
        QStringList fileURLs;
    };

    Command command = Command::run;
    // The command `help COMMAND` describes; empty for the overview.
    QString helpTopic;
    bool json = false;
    std::optional<int> limit;
    // list --kind: "text", "rich", "image" or "file".
    std::optional<QString> kind;
    bool pinnedOnly = false;
    std::optional<QString> device;
    // list and search --since/--until: clips copied at or after `since` and before `until`.
    std::optional<QDateTime> since;
    std::optional<QDateTime> until;
    // list and search -0: records end with NUL instead of a line feed.
    bool nulSeparated = false;
    QString query;
    // clipboard: the primary selection instead of the clipboard. clipboard, copy and show: the
    // MIME type to print, or to put standard input on the clipboard as; add: the type standard
    // input is read as.
    bool primary = false;
    std::optional<QString> mimeType;
    // copy -: standard input goes on the clipboard as it is, never filed (read into `content`).
    bool fromStandardInput = false;
    // config: the setting's name and the value to give it, as typed.
    std::optional<QString> settingKey;
    std::optional<QString> settingValue;
    // Ids or unambiguous id prefixes, as given.
    QStringList ids;
    bool raw = false;
    // show --list-types: the MIME types the clip holds; show --force: binary bytes to a terminal.
    bool listTypes = false;
    bool force = false;
    bool keepPinned = false;
    bool yes = false;
    std::optional<int> minutes;
    // add: --text STRING and --file PATH... (made absolute when parsed).
    std::optional<QString> text;
    // watch --exec COMMAND: run by this process (through /bin/sh -c) once per clip; never sent.
    std::optional<QString> exec;
    QStringList files;
    std::optional<Content> content;
    // export and import: the archive, made absolute when parsed.
    QString path;
    // completions: "bash", "zsh" or "fish".
    QString shell;
    // show-panel and show-settings: the activation token the command was started with (see
    // ActivationToken), for the window they open. Never read from the arguments.
    std::optional<QString> activationToken;
    // sync: "sign-in" (with the server's address and the user name) or "sign-out"; --trust gives
    // the fingerprint of a self-signed server's certificate. Never sent to the running Snipjar.
    QString syncAction;
    QString syncServer;
    QString syncUser;
    std::optional<QString> trustFingerprint;
    // Set when the arguments could not be understood; the binary prints it with the usage of the
    // command and exits with status 2.
    std::optional<QString> error;

    static CommandLine parse(const QStringList& arguments);
    // The usage line of a command (of all commands for run).
    static QString usage(Command command = Command::run);
    // The name a command is typed as ("show-panel"); empty for run.
    static QString name(Command command);
    static std::optional<Command> commandNamed(const QString& name);

    // True for the commands only a running Snipjar can carry out.
    bool needsInstance() const;

    QJsonObject toJson() const;
    static CommandLine fromJson(const QJsonObject& object);
};

} // namespace snipjar
