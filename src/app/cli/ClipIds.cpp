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
    const QString wanted = compact(given.trimmed());
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
    for (const HistoryEntry& entry : entries) {
        if (!visible.contains(entry.item.id)) {
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
    if (found.isEmpty()) {
        return QStringLiteral("no clip has the id %1").arg(given);
    }
    if (found.size() > 1) {
        return QStringLiteral("the id %1 is ambiguous: %2 clips start with it").arg(given).arg(found.size());
    }
    return *found.first();
}

} // namespace snipjar
