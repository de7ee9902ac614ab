#include "app/ClipWatchers.h"

#include "app/HistoryListing.h"
#include "app/InstanceConnection.h"
#include "platform/LogCategories.h"
#include "store/ClipStore.h"

#include <QJsonDocument>

namespace snipjar {

ClipWatchers::ClipWatchers(ClipStore& store)
    : store(store) {}

ClipWatchers::~ClipWatchers() = default;

std::optional<QString> ClipWatchers::subscribe(InstanceConnection& connection, bool json) {
    watchers.removeIf([](const Watcher& watcher) { return !watcher.connection; });
    if (watchers.size() >= maximumWatchers) {
        return QStringLiteral("%1 watches run already; end one first").arg(maximumWatchers);
    }
    connection.keepForPushes();
    QPointer<InstanceConnection> kept(&connection);
    watchers << Watcher{kept, json};
    connect(&connection, &InstanceConnection::ended, this, [this, raw = &connection] {
        watchers.removeIf([raw](const Watcher& watcher) { return watcher.connection == raw; });
    });
    qCInfo(lcApp) << "A watch started;" << watchers.size() << "running";
    return std::nullopt;
}

void ClipWatchers::clipFiled(const QUuid& id) {
    if (watchers.isEmpty()) {
        return;
    }
    // Two lookups by id, made only while someone watches.
    std::optional<ClipItem> item = store.syncItem(id);
    const HistoryEntry::Store where = item ? HistoryEntry::Store::synced : HistoryEntry::Store::localOnly;
    if (!item) {
        item = store.item(id);
    }
    // Concealed copies are never filed; one that reached the store by another way stays unshown.
    if (!item || item->concealed) {
        return;
    }
    QString deviceName;
    for (const Device& device : store.devices()) {
        if (device.id == item->deviceID && !device.name.isEmpty()) {
            deviceName = device.name;
            break;
        }
    }
    const QByteArray text = HistoryListing::rowText(*item, where, deviceName, item->pinned) + '\n';
    const QByteArray json = QJsonDocument(HistoryListing::rowJson(*item, where, deviceName, item->pinned))
                                .toJson(QJsonDocument::Compact) +
                            '\n';
    // Copied first: a watcher dropped below leaves the list while it is walked.
    const QList<Watcher> current = watchers;
    for (const Watcher& watcher : current) {
        if (!watcher.connection) {
            continue;
        }
        if (watcher.connection->pendingBytes() > unreadBytesCap) {
            qCWarning(lcApp) << "A watch that stopped reading was dropped:"
                             << watcher.connection->pendingBytes() << "bytes waited for it";
            watcher.connection->close();
            continue;
        }
        watcher.connection->push(watcher.json ? json : text);
    }
}

} // namespace snipjar
