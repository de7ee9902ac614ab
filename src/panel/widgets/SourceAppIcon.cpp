#include "SourceAppIcon.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

namespace snipjar {

namespace {

// The Icon= key of the [Desktop Entry] group; other groups (actions) have their own icons.
QString iconKey(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    bool inEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
        } else if (inEntry && line.startsWith(QLatin1String("Icon="))) {
            return line.mid(5).trimmed();
        }
    }
    return {};
}

QIcon lookUp(const QString& desktopEntryID) {
    if (desktopEntryID.isEmpty() || desktopEntryID.contains(QLatin1Char('/'))) {
        return {};
    }
    const QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation,
                                                desktopEntryID + QStringLiteral(".desktop"));
    if (path.isEmpty()) {
        return {};
    }
    const QString icon = iconKey(path);
    if (icon.isEmpty()) {
        return {};
    }
    if (QFileInfo(icon).isAbsolute()) {
        return QFileInfo::exists(icon) ? QIcon(icon) : QIcon();
    }
    return QIcon::fromTheme(icon);
}

} // namespace

QIcon sourceAppIcon(const QString& desktopEntryID) {
    static QHash<QString, QIcon> cache;
    const auto found = cache.constFind(desktopEntryID);
    if (found != cache.constEnd()) {
        return *found;
    }
    const QIcon icon = lookUp(desktopEntryID);
    cache.insert(desktopEntryID, icon);
    return icon;
}

} // namespace snipjar
