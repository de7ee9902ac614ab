#include "app/cli/DirectAccess.h"

#include "store/ClipStore.h"

namespace snipjar {

DirectAccess::DirectAccess() = default;
DirectAccess::~DirectAccess() = default;

QList<HistoryEntry> DirectAccess::entries() {
    return reader.items();
}

QList<Device> DirectAccess::devices() {
    return reader.devices();
}

std::optional<Clip> DirectAccess::loadClip(const QUuid& id) {
    return reader.loadClip(id);
}

ClipStore* DirectAccess::store() {
    if (!openedStore && !openFailed) {
        openedStore = std::make_unique<ClipStore>();
        if (openedStore->didFallBackToMemory()) {
            // A history in memory would be thrown away when the command ends.
            openedStore.reset();
            openFailed = true;
        } else {
            openedStore->registerThisMac();
        }
    }
    return openedStore.get();
}

std::optional<QUuid> DirectAccess::file(const Clip& clip) {
    ClipStore* const target = store();
    if (!target) {
        return std::nullopt;
    }
    return fileInto(*target, clip);
}

std::optional<QUuid> DirectAccess::fileInto(ClipStore& store, const Clip& clip) {
    const bool localOnly = clip.isLocalOnly();
    ModelContainer& container = localOnly ? store.localContainer() : store.syncContainer();
    const std::unique_ptr<ModelContext> context = container.newContext();
    const QList<ClipSyncChange> changes = store.insert(clip, *context);
    if (changes.isEmpty()) {
        return std::nullopt;
    }
    if (!localOnly && store.onSyncChange) {
        for (const ClipSyncChange& change : changes) {
            store.onSyncChange(change);
        }
    }
    // The filed item's own change comes last, after the deletions the limits made.
    return changes.last().id;
}

} // namespace snipjar
