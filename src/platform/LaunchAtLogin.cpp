#include "platform/LaunchAtLogin.h"

#include "platform/AppIdentity.h"
#include "platform/AppPaths.h"
#include "platform/LogCategories.h"
#include "platform/PrivateFiles.h"
#include "platform/UserSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstring>

namespace snipjar {

namespace {

QString autostartFolder() {
    return AppPaths::configHome() + QStringLiteral("/autostart");
}

// The value of a key in the [Desktop Entry] group, or a null string when it is not there.
QString desktopEntryValue(const QString& contents, const QString& key) {
    bool inMainGroup = false;
    for (const QString& rawLine : contents.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0 && line.left(equals).trimmed() == key) {
            return line.mid(equals + 1).trimmed();
        }
    }
    return QString();
}

bool isTrue(const QString& value) {
    return value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

bool isFalse(const QString& value) {
    return value.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0;
}

// One argument of an Exec line: inside double quotes the characters ", `, $ and \ are escaped with
// a backslash, a literal % is doubled (it would start a field code), and then the whole value gets
// the general string escaping of desktop entries, which doubles every backslash again.
QString quotedExecArgument(const QString& argument) {
    QString quoted;
    quoted.reserve(argument.size() + 2);
    quoted += QLatin1Char('"');
    for (const QChar character : argument) {
        if (character == u'"' || character == u'`' || character == u'$' || character == u'\\') {
            quoted += QLatin1Char('\\');
        }
        if (character == u'%') {
            quoted += QLatin1Char('%');
        }
        quoted += character;
    }
    quoted += QLatin1Char('"');
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return quoted;
}

QString entryContents() {
    const QString name =
        AppIdentity::isDebug() ? QStringLiteral("Snipjar (Debug)") : QStringLiteral("Snipjar");
    QString contents;
    contents += QStringLiteral("[Desktop Entry]\n");
    contents += QStringLiteral("Type=Application\n");
    contents += QStringLiteral("Name=") + name + QLatin1Char('\n');
    contents += QStringLiteral("Comment=Clipboard history\n");
    contents += QStringLiteral("Exec=") + LaunchAtLogin::execLine().value_or(QString()) + QLatin1Char('\n');
    contents += QStringLiteral("Terminal=false\n");
    contents += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    return contents;
}

// Creates the folders that are missing; only those get mode 0700, an existing autostart folder
// keeps the permissions the user gave it.
bool ensureFolder(const QString& path, QString& error) {
    QStringList missing;
    for (QString folder = path; !QFileInfo::exists(folder); folder = QFileInfo(folder).path()) {
        missing.prepend(folder);
        if (folder == QFileInfo(folder).path()) {
            break;
        }
    }
    if (!QFileInfo(path).isDir() && !QDir().mkpath(path)) {
        error = QStringLiteral("cannot create the folder %1").arg(path);
        return false;
    }
    for (const QString& folder : missing) {
        PrivateFiles::restrictFolder(folder);
    }
    return true;
}

std::optional<std::optional<QString>> installedCommandOverride;

// True for a program inside a CMake build folder: one of the folders above it holds CMakeCache.txt.
bool isInBuildFolder(const QString& program) {
    QDir folder = QFileInfo(program).absoluteDir();
    for (int depth = 0; depth < 6; ++depth) {
        if (folder.exists(QStringLiteral("CMakeCache.txt"))) {
            return true;
        }
        if (!folder.cdUp()) {
            break;
        }
    }
    return false;
}

std::optional<QString> installedCommand() {
    if (installedCommandOverride) {
        return *installedCommandOverride;
    }
    const QString path = QStringLiteral(SNIPJAR_INSTALLED_COMMAND);
    return QFileInfo(path).isExecutable() ? std::optional(path) : std::nullopt;
}

bool writeEntry(QString& error) {
    const QString path = LaunchAtLogin::entryPath();
    const std::optional<QString> command = LaunchAtLogin::commandPath();
    if (!command) {
        error = QStringLiteral("Snipjar runs from a build folder and is not installed");
        return false;
    }
    if (command->contains(QLatin1Char('\n'))) {
        error = QStringLiteral("the executable's path cannot be written in a desktop entry");
        return false;
    }
    if (!ensureFolder(autostartFolder(), error)) {
        return false;
    }
    if (!PrivateFiles::writeFile(path, entryContents().toUtf8(), PrivateFiles::Durability::Synced)) {
        const int saved = errno;
        error = QStringLiteral("cannot write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(saved)));
        return false;
    }
    return true;
}

bool removeEntry(QString& error) {
    QFile entry(LaunchAtLogin::entryPath());
    if (!entry.exists() || entry.remove()) {
        return true;
    }
    error = QStringLiteral("cannot remove %1: %2").arg(entry.fileName(), entry.errorString());
    return false;
}

} // namespace

QString LaunchAtLogin::entryPath() {
    return autostartFolder() + QLatin1Char('/') + AppIdentity::identifier() + QStringLiteral(".desktop");
}

std::optional<QString> LaunchAtLogin::commandPath() {
    // The `snipjar` that handed this process over, when it did so, else this program.
    QString command = qEnvironmentVariable("SNIPJAR_COMMAND");
    if (command.isEmpty() || !QFileInfo(command).isExecutable()) {
        command = QCoreApplication::applicationFilePath();
    }
    if (!isInBuildFolder(command)) {
        return command;
    }
    return installedCommand();
}

void LaunchAtLogin::overrideInstalledCommand(std::optional<QString> path) {
    installedCommandOverride = std::move(path);
}

void LaunchAtLogin::clearInstalledCommandOverride() {
    installedCommandOverride.reset();
}

std::optional<QString> LaunchAtLogin::execLine() {
    const std::optional<QString> command = commandPath();
    if (!command) {
        return std::nullopt;
    }
    QString line = quotedExecArgument(*command);
    // A debug identity chosen at run time must hold for the copy started at login too.
    if (AppIdentity::isDebug()) {
        line = QStringLiteral("env SNIPJAR_IDENTITY=debug ") + line;
    }
    return line;
}

bool LaunchAtLogin::isEnabled() {
    QFile entry(entryPath());
    if (!entry.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QString contents = QString::fromUtf8(entry.readAll());
    if (desktopEntryValue(contents, QStringLiteral("Type")) != QLatin1String("Application")) {
        return false;
    }
    return !isTrue(desktopEntryValue(contents, QStringLiteral("Hidden"))) &&
           !isFalse(desktopEntryValue(contents, QStringLiteral("X-GNOME-Autostart-enabled")));
}

bool LaunchAtLogin::setEnabled(bool enabled) {
    // Switching off leaves an entry the user hid in place: it is already off, and the edit is theirs.
    if (isEnabled() == enabled) {
        return true;
    }
    QString error;
    const bool done = enabled ? writeEntry(error) : removeEntry(error);
    if (!done) {
        qCWarning(lcApp).noquote() << QStringLiteral("[snipjar] launch-at-login set(%1) failed: %2")
                                          .arg(enabled ? QStringLiteral("true") : QStringLiteral("false"),
                                               error);
    }
    return done;
}

void LaunchAtLogin::configureOnFirstRun() {
    const QString key = QString::fromLatin1(UserSettings::didConfigureLoginItemKey);
    // A build folder without an installed Snipjar leaves the choice to the first installed start.
    if (UserSettings::value(key).has_value() || !commandPath()) {
        return;
    }
    setEnabled(true);
    UserSettings::setValue(key, true);
}

} // namespace snipjar
