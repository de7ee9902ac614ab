#include "platform/x11/DesktopEntryIndex.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSet>

namespace snipjar {

namespace {

QStringList dataFoldersFromEnvironment() {
    QStringList folders;
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty()) {
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    }
    folders.append(dataHome);
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty()) {
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    }
    folders.append(dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts));
    return folders;
}

struct ParsedEntry {
    QString name;
    QString startupWMClass;
    bool hidden = false;
};

// Reads the keys of the [Desktop Entry] group that the lookup needs. Localised names are not
// chosen here: the plain Name is what every entry has.
std::optional<ParsedEntry> parseEntry(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > 1024 * 1024) {
        return std::nullopt;
    }
    ParsedEntry entry;
    bool inMainGroup = false;
    bool isApplication = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup) {
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            continue;
        }
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Name")) {
            entry.name = value;
        } else if (key == QLatin1String("StartupWMClass")) {
            entry.startupWMClass = value;
        } else if (key == QLatin1String("Hidden")) {
            entry.hidden = value == QLatin1String("true");
        } else if (key == QLatin1String("Type")) {
            isApplication = value == QLatin1String("Application");
        }
    }
    if (!isApplication || entry.name.isEmpty()) {
        return std::nullopt;
    }
    return entry;
}

} // namespace

DesktopEntryIndex DesktopEntryIndex::scan() {
    return scan(dataFoldersFromEnvironment());
}

DesktopEntryIndex DesktopEntryIndex::scan(const QStringList& dataFolders) {
    DesktopEntryIndex index;
    QSet<QString> seenIDs;
    for (const QString& folder : dataFolders) {
        const QString applications = QDir(folder).filePath(QStringLiteral("applications"));
        QDirIterator it(applications, {QStringLiteral("*.desktop")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QString id = QDir(applications).relativeFilePath(path);
            id.chop(int(qstrlen(".desktop")));
            id.replace(QLatin1Char('/'), QLatin1Char('-'));
            if (seenIDs.contains(id)) {
                continue;
            }
            seenIDs.insert(id);
            const std::optional<ParsedEntry> parsed = parseEntry(path);
            if (!parsed || parsed->hidden) {
                continue;
            }
            const Entry entry{id, parsed->name};
            index.byID.insert(id.toLower(), entry);
            // Two entries may claim the same class; the one earlier in the search path wins.
            if (!parsed->startupWMClass.isEmpty() &&
                !index.byStartupWMClass.contains(parsed->startupWMClass.toLower())) {
                index.byStartupWMClass.insert(parsed->startupWMClass.toLower(), entry);
            }
        }
    }
    return index;
}

std::optional<DesktopEntryIndex::Entry>
DesktopEntryIndex::entryForWindowClass(const QString& windowClass) const {
    if (windowClass.isEmpty()) {
        return std::nullopt;
    }
    const QString key = windowClass.toLower();
    if (auto found = byStartupWMClass.constFind(key); found != byStartupWMClass.constEnd()) {
        return *found;
    }
    if (auto found = byID.constFind(key); found != byID.constEnd()) {
        return *found;
    }
    return std::nullopt;
}

} // namespace snipjar
