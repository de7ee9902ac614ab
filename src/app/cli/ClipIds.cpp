#include "app/cli/ClipIds.h"

namespace snipjar {

namespace {

QString compact(QString id) {
    id.remove(QLatin1Char('{')).remove(QLatin1Char('}')).remove(QLatin1Char('-'));
    return id.toUpper();
}

} // namespace

QString ClipIds::printed(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::variant<HistoryEntry, QString> ClipIds::resolve(const QString& given,
                                                     const QList<HistoryEntry>& entries) {
    const QString wanted = compact(given.trimmed());
    if (wanted.isEmpty()) {
        return QStringLiteral("an empty id names no clip");
    }
    QList<const HistoryEntry*> found;
    for (const HistoryEntry& entry : entries) {
        const QString id = compact(entry.item.id.toString());
        if (id == wanted) {
            return entry;
        }
        if (id.startsWith(wanted)) {
            found << &entry;
        }
    }
    if (found.isEmpty()) {
        return QStringLiteral("no clip has the id %1").arg(given);
    }
    if (found.size() > 1) {
        return QStringLiteral("the id %1 is ambiguous: %2 clips start with it").arg(given).arg(found.size());
    }
    return *found.first();
}

} // namespace snipjar
