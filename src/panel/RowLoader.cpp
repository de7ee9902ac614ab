#include "panel/RowLoader.h"

#include "model/ClipStore.h"

#include <QHash>

namespace snipjar {

namespace {

// The name a computer without a Device record goes by, the same as in the store's computer list.
const QString unnamedComputer = QStringLiteral("Computer");

} // namespace

QList<PanelRow> RowLoader::loadRows(ClipStore& store) {
    QList<ClipItem> items = ClipStore::allItems(store.syncContext());
    items.append(ClipStore::allItems(store.localContext()));

    QHash<QString, QString> names;
    for (const MacRef& mac : ClipStore::macs(items, store.devices())) {
        names.insert(mac.id, mac.name);
    }

    QList<PanelRow> rows;
    const QList<ClipGroup> groups = ClipStore::groups(std::move(items));
    rows.reserve(groups.size());
    for (const ClipGroup& group : groups) {
        const ClipItem& newest = group.newest;
        PanelRow row;
        row.id = newest.id;
        row.kind = newest.kind();
        row.text = newest.title;
        row.thumbnail = newest.thumbnailData;
        row.fileCount = int(newest.fileURLs().size());
        row.createdAt = newest.createdAt;
        row.deviceID = newest.deviceID;
        row.origins.reserve(group.originIDs.size());
        for (const QString& origin : group.originIDs) {
            row.origins.append(MacRef{origin, names.value(origin, unnamedComputer)});
        }
        row.concealed = newest.concealed;
        row.pinned = group.anyPinned;
        rows.append(std::move(row));
    }
    return rows;
}

} // namespace snipjar
