#include "app/cli/ClipIds.h"

#include "store/ClipStore.h"

#include <QSet>

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
    const QString trimmed = given.trimmed();
    std::optional<qsizetype> position;
    if (trimmed.startsWith(QLatin1Char('@'))) {
        bool ok = false;
        const qlonglong number = trimmed.mid(1).toLongLong(&ok);
        if (!ok || number < 0 || !trimmed.at(1).isDigit()) {
            return QStringLiteral("%1 is not a position such as @0 (the clip copied last)").arg(given);
        }
        position = number;
    }
    const QString wanted = compact(trimmed);
    if (wanted.isEmpty()) {
        return QStringLiteral("an empty id names no clip");
    }
    // Only the rows list shows can be named: the older copies of a content hide behind its newest,
    // and a prefix that one of them shares must neither pick it nor make the row's id ambiguous.
    QList<ClipItem> items;
    items.reserve(entries.size());
    for (const HistoryEntry& entry : entries) {
        items << entry.item;
    }
    QSet<QUuid> visible;
    for (const ClipGroup& group : ClipStore::groups(std::move(items))) {
        visible.insert(group.newest.id);
    }
    QList<const HistoryEntry*> found;
    qsizetype row = 0;
    for (const HistoryEntry& entry : entries) {
        if (!visible.contains(entry.item.id)) {
            continue;
        }
        if (position) {
            if (row++ == *position) {
                return entry;
            }
            continue;
        }
        const QString id = compact(entry.item.id.toString());
        if (id == wanted) {
            return entry;
        }
        if (id.startsWith(wanted)) {
            found << &entry;
        }
    }
    if (position) {
        return QStringLiteral("the history has no clip at %1 (it holds %2)").arg(given).arg(row);
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
