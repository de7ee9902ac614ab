#include "panel/RowLoader.h"

#include "store/ClipStore.h"

#include <QHash>

namespace snipjar {

namespace {

// The name a computer without a Device record goes by, the same as in the store's computer list.
const QString unnamedComputer = QStringLiteral("Computer");

} // namespace

QList<PanelRow> RowLoader::loadRows(ClipStore& store) {
    const std::unique_ptr<ModelContext> synced = store.syncContainer().newContext();
    const std::unique_ptr<ModelContext> local = store.localContainer().newContext();
    return loadRows(*synced, *local);
}

QList<PanelRow> RowLoader::loadRows(ModelContext& synced, ModelContext& local) {
    // Thumbnails and the server's record fields are most of an image-heavy history's bytes; rows
    // need neither (a painted row loads its own thumbnail).
    const ClipItemQuery query = ClipItemQuery::all().withoutLargeFields();
    QList<ClipItem> items = synced.fetch(query);
    items.append(local.fetch(query));

    QHash<QString, QString> names;
    for (const MacRef& mac : ClipStore::macs(items, synced.devices())) {
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
