#include "store/ClipStore.h"

#include "platform/AppPaths.h"
#include "platform/DeviceIdentity.h"
#include "platform/LogCategories.h"

#include <QFile>

namespace snipjar {

namespace {

// The earlier store format; its contents are not carried over.
void deleteEarlierFormat(const QString& folder) {
    for (const char* name : {"history.store", "local.store"}) {
        for (const char* suffix : {"", "-wal", "-shm"}) {
            QFile::remove(folder + QLatin1Char('/') + QLatin1String(name) + QLatin1String(suffix));
        }
    }
}

std::unique_ptr<ModelContainer> openInMemoryOrStop(const QString& name) {
    std::unique_ptr<ModelContainer> container = ModelContainer::openInMemory(name);
    if (!container) {
        qFatal("The history store cannot be opened, not even in memory.");
    }
    return container;
}

} // namespace

ClipStore::ClipStore(Location location)
    : ClipStore(location, Options{}) {}

ClipStore::ClipStore(Location location, Options options)
    : options(std::move(options)) {
    deviceID =
        this->options.thisDeviceID.isEmpty() ? DeviceIdentity::currentDeviceID() : this->options.thisDeviceID;
    previousDeviceID = this->options.thisDeviceID.isEmpty() ? DeviceIdentity::previousDeviceID()
                                                            : this->options.previousDeviceID;
    if (previousDeviceID == deviceID) {
        previousDeviceID.clear();
    }
    if (location == Location::onDisk) {
        const QString folder = AppPaths::storeFolder();
        AppPaths::ensurePrivateFolder(folder);
        deleteEarlierFormat(folder);
        // Each store falls back on its own; the file that failed is left as it is, so the next
        // launch tries it again.
        const auto open = [this, &folder](const QString& name) {
            std::unique_ptr<ModelContainer> container =
                ModelContainer::openFile(folder + QLatin1Char('/') + name);
            if (!container) {
                fellBackToMemory = true;
                container = openInMemoryOrStop(name);
            }
            return container;
        };
        syncStore = open(syncStoreName);
        localStore = open(localStoreName);
    } else {
        syncStore = openInMemoryOrStop(syncStoreName);
        localStore = openInMemoryOrStop(localStoreName);
    }
    syncMain = syncStore->newContext();
    localMain = localStore->newContext();
}

ClipStore::~ClipStore() = default;

QDateTime ClipStore::now() const {
    return options.clock ? options.clock() : QDateTime::currentDateTimeUtc();
}

void ClipStore::report(const ClipSyncChange& change) const {
    if (onSyncChange) {
        onSyncChange(change);
    }
}

void ClipStore::addToOutbox(ModelContext& context, const QList<ClipSyncChange>& changes) const {
    if (&context.container() != syncStore.get()) {
        return;
    }
    for (const ClipSyncChange& change : changes) {
        context.addToOutbox(change);
    }
}

void ClipStore::enforceLimitsNow() {
    for (ModelContext* context : {syncMain.get(), localMain.get()}) {
        // The walk and its deletions under one lock, so that they name exactly the items walked.
        // Deletions that could not be saved are dropped unreported; the next pass finds them again.
        if (!context->beginWrite()) {
            qCWarning(lcStore) << "limits not applied: the store is busy";
            continue;
        }
        const QList<ClipSyncChange> deletions = enforceLimits(*context);
        addToOutbox(*context, deletions);
        if (!context->save()) {
            qCWarning(lcStore) << "limits not applied: the deletions could not be saved";
            context->rollback();
            continue;
        }
        if (context == syncMain.get()) {
            for (const ClipSyncChange& change : deletions) {
                report(change);
            }
        }
    }
}

void ClipStore::adoptPreviousDeviceID() {
    if (previousDeviceID.isEmpty()) {
        return;
    }
    for (ModelContext* context : {syncMain.get(), localMain.get()}) {
        if (context->fetchSummaries(ClipItemQuery().whereDeviceID(previousDeviceID).limitedTo(1)).isEmpty()) {
            continue;
        }
        context->reassignItems(previousDeviceID, deviceID);
        if (!context->save()) {
            // Tried again at the next start; meanwhile those clips count as another computer's.
            qCWarning(lcStore) << "clips of this computer's former identifier not moved: the store is busy";
            context->rollback();
        }
    }
}

std::optional<Device> ClipStore::retiredDevice() {
    return previousDeviceID.isEmpty() ? std::nullopt : syncMain->device(previousDeviceID);
}

void ClipStore::forgetRetiredDevice() {
    if (previousDeviceID.isEmpty()) {
        return;
    }
    syncMain->removeDevice(previousDeviceID);
    syncMain->save();
}

Device ClipStore::registerThisMac() {
    adoptPreviousDeviceID();
    const QString name = DeviceIdentity::computerName();
    if (std::optional<Device> device = syncMain->device(deviceID)) {
        if (device->name != name) {
            device->name = name;
            syncMain->update(*device);
            syncMain->save();
        }
        return *device;
    }
    const Device device{deviceID, name, std::nullopt};
    syncMain->insert(device);
    syncMain->save();
    return device;
}

void ClipStore::rememberDevice(const Device& device) {
    if (device.id.isEmpty() || syncMain->device(device.id)) {
        return;
    }
    syncMain->insert(Device{device.id, device.name, std::nullopt});
    syncMain->save();
}

std::optional<ClipStore::Located> ClipStore::locate(const QUuid& id) {
    if (std::optional<ClipItem> found = syncMain->item(id)) {
        return Located{std::move(*found), syncMain.get()};
    }
    if (std::optional<ClipItem> found = localMain->item(id)) {
        return Located{std::move(*found), localMain.get()};
    }
    return std::nullopt;
}

std::optional<ClipItem> ClipStore::item(const QUuid& id) {
    std::optional<Located> found = locate(id);
    if (!found) {
        return std::nullopt;
    }
    return std::move(found->item);
}

bool ClipStore::touch(const QUuid& id) {
    const std::optional<Located> found = locate(id);
    if (!found) {
        return false;
    }
    const std::unique_ptr<ModelContext> context = found->context->container().newContext();
    context->setCreatedAt(id, now());
    return saveCommand(*context, "moving a clip to the top");
}

bool ClipStore::togglePin(const QUuid& id) {
    const std::optional<Located> found = locate(id);
    if (!found) {
        return false;
    }
    const std::unique_ptr<ModelContext> context = found->context->container().newContext();
    context->setPinned(id, !found->item.pinned);
    const QList<ClipSyncChange> changes{ClipSyncChange::save(id, false)};
    addToOutbox(*context, changes);
    if (!saveCommand(*context, "pinning")) {
        return false;
    }
    if (found->context == syncMain.get()) {
        report(changes.first());
    }
    return true;
}

void ClipStore::setPixelSizeIfMissing(const QUuid& id, qint64 width, qint64 height) {
    const std::optional<Located> found = locate(id);
    if (!found || found->item.pixelWidth) {
        return;
    }
    const std::unique_ptr<ModelContext> context = found->context->container().newContext();
    context->setPixelSize(id, width, height);
    saveCommand(*context, "recording an image's size");
}

bool ClipStore::remove(const QUuid& id) {
    const std::optional<Located> found = locate(id);
    if (!found) {
        return false;
    }
    const ClipItem& target = found->item;
    // Concealed items and items without a key share content with nothing: they go alone.
    const bool alone = target.concealed || target.dedupKey.isEmpty();
    bool saved = true;
    // The same content on every computer, in both stores.
    for (ModelContext* main : {syncMain.get(), localMain.get()}) {
        if (alone && main != found->context) {
            continue;
        }
        const std::unique_ptr<ModelContext> context = main->container().newContext();
        // A context without a connection finds nothing, which must not pass for nothing to delete.
        if (!context->isConnected()) {
            qCWarning(lcStore) << "deleting failed: no connection to the store";
            saved = saved && main != found->context;
            continue;
        }
        QList<ClipSyncChange> removed;
        if (main == found->context) {
            removed.append(ClipSyncChange::remove(id));
        }
        if (!alone) {
            for (const ClipItemSummary& copy :
                 context->fetchSummaries(ClipItemQuery().whereDedupKey(target.dedupKey))) {
                if (copy.id != id) {
                    removed.append(ClipSyncChange::remove(copy.id));
                }
            }
        }
        for (const ClipSyncChange& change : removed) {
            context->removeItem(change.id);
        }
        addToOutbox(*context, removed);
        if (!saveCommand(*context, "deleting")) {
            saved = saved && main != found->context;
            continue;
        }
        if (main == syncMain.get()) {
            for (const ClipSyncChange& change : removed) {
                report(change);
            }
        }
    }
    return saved;
}

bool ClipStore::saveCommand(ModelContext& context, const char* what) const {
    if (context.save()) {
        return true;
    }
    qCWarning(lcStore) << what << "failed: the store could not save it";
    context.rollback();
    return false;
}

std::optional<Clip> ClipStore::loadClip(const QUuid& id, ModelContainer& container) const {
    const std::unique_ptr<ModelContext> context = container.newContext();
    const std::optional<ClipItem> found = context->item(id);
    if (!found) {
        return std::nullopt;
    }
    std::optional<ClipPayload> payload;
    if (found->hasPayload) {
        payload = context->payload(id);
        // Content whose bytes cannot be read gives no clip rather than one without them. A payload
        // row that has not arrived yet (synced in after its item) leaves the item's own fields.
        if (!payload && context->hasPayloadRecord(id)) {
            return std::nullopt;
        }
    }
    return clipFrom(*found, std::move(payload));
}

Clip ClipStore::clipFrom(const ClipItem& item, std::optional<ClipPayload> payload) {
    Clip clip;
    clip.kind = item.kind();
    switch (clip.kind) {
    case Clip::Kind::text:
    case Clip::Kind::richText:
    case Clip::Kind::unknown:
        clip.plainText = payload && payload->fullText ? payload->fullText : item.title;
        break;
    case Clip::Kind::image:
    case Clip::Kind::file:
        break;
    }
    if (payload) {
        clip.richTextData = std::move(payload->richTextData);
        clip.htmlData = std::move(payload->htmlData);
        clip.imageData = std::move(payload->imageData);
        clip.dataUTI = std::move(payload->dataUTI);
    }
    clip.fileURLs = item.fileURLs();
    clip.concealed = item.concealed;
    clip.sourceBundleID = item.sourceBundleID;
    clip.sourceName = item.sourceName;
    return clip;
}

qint64 ClipStore::syncedBytes() {
    return syncMain->totalByteSize();
}

QList<ClipItem> ClipStore::unsyncedItems() {
    return syncMain->fetch(ClipItemQuery().whereCloudRecord(false).sorted(ClipItemQuery::Order::oldestFirst));
}

std::optional<ClipItem> ClipStore::syncItem(const QUuid& id) {
    return syncMain->item(id);
}

std::optional<ClipPayload> ClipStore::syncPayload(const QUuid& itemID) {
    return syncMain->payload(itemID);
}

std::optional<Device> ClipStore::syncDevice(const QString& id) {
    return syncMain->device(id);
}

QList<ClipItem> ClipStore::allItems(ModelContext& context) {
    return context.fetch(ClipItemQuery::all(ClipItemQuery::Order::newestFirst));
}

QList<Device> ClipStore::devices() {
    return syncMain->devices();
}

} // namespace snipjar
