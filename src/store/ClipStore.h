#pragma once

#include "model/Clip.h"
#include "model/ClipGroup.h"
#include "model/ClipRecords.h"
#include "model/ClipSyncChange.h"
#include "model/MacRef.h"
#include "store/ModelContainer.h"
#include "store/ModelContext.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

namespace snipjar {

// The single owner of the persisted history: the sync store ("history-v2.store", items that may be
// synced to the user's other computers) and the local store ("local-v2.store", items that never
// leave this computer), both in AppPaths::storeFolder(). Files clips with per-computer
// de-duplication, applies the history limits, answers lookups and reports every change of the sync
// store through onSyncChange, after writing it to the store's sync outbox in the same transaction.
//
// insert and enforceLimits may run on any thread with a context the caller made for them; every
// other operation, both main contexts and the callbacks belong to the main thread.
class ClipStore {
public:
    enum class Location { onDisk, inMemory };

    // The points of insert and of the limits pass at which Options::onStep is called.
    enum class FilingStep {
        // The de-duplication lookup is done; the write that depends on it comes next.
        lookedUp,
        // The limits walk is done; its deletions come next.
        walkedLimits,
        // An attempt failed; the next one follows.
        retrying,
    };

    // A busy store is tried this many times before a clip is given up.
    static constexpr int insertAttempts = 3;
    static constexpr int retryPauseMilliseconds = 50;

    // Hooks for tests; the defaults are this computer's identifier, the system clock and nothing.
    struct Options {
        QString thisDeviceID;
        std::function<QDateTime()> clock;
        std::function<void(FilingStep, ModelContext&)> onStep = {};
        // The identifier this computer went by before thisDeviceID; its clips are moved to
        // thisDeviceID. Unless thisDeviceID is given, DeviceIdentity::previousDeviceID().
        QString previousDeviceID = {};
        // The pause before the second attempt at filing; each further one waits that much longer.
        int retryPauseMilliseconds = ClipStore::retryPauseMilliseconds;
    };

    static constexpr qint64 largestClipBytes = 50'000'000;
    static constexpr int thumbnailPixels = 72;
    static constexpr qint64 secondsPerDay = 86'400;
    static inline const QString syncStoreName = QStringLiteral("history-v2.store");
    static inline const QString localStoreName = QStringLiteral("local-v2.store");

    explicit ClipStore(Location location = Location::onDisk);
    ClipStore(Location location, Options options);
    ~ClipStore();
    ClipStore(const ClipStore&) = delete;
    ClipStore& operator=(const ClipStore&) = delete;

    ModelContainer& syncContainer() { return *syncStore; }
    // The same, for work on another thread that may outlive this store (sync's record building).
    std::shared_ptr<ModelContainer> sharedSyncContainer() { return syncStore; }
    ModelContainer& localContainer() { return *localStore; }
    ModelContext& syncContext() { return *syncMain; }
    ModelContext& localContext() { return *localMain; }
    // True when at least one store could not be opened on disk and is held in memory instead.
    bool didFallBackToMemory() const { return fellBackToMemory; }

    std::function<void(const ClipSyncChange&)> onSyncChange;
    std::function<void()> syncDidApplyInbound;

    const QString& thisDeviceID() const { return deviceID; }
    // The identifier this computer went by before, when it had another one.
    const QString& formerDeviceID() const { return previousDeviceID; }
    QDateTime now() const;

    // What filing a clip came to: filed with its changes, skipped by rule (concealed, too large),
    // or failed because the store could not save it (busy, full disk, I/O error).
    struct Filing {
        enum class Outcome { filed, skipped, failed };
        Outcome outcome = Outcome::skipped;
        QList<ClipSyncChange> changes;
    };

    // Files a clip into the context (a fresh one on the chosen container) and saves it; any thread.
    // The lookup, the write, the limits and the save happen under one write lock. A clip that
    // cannot be saved, even after a few attempts, has failed and changed nothing, and the context
    // is left without unsaved changes.
    // `copiedAt` is when the clip was copied, for one filed later (a large image transcoded first,
    // a clip held while the disk was full), so that it takes its place among the clips copied
    // meanwhile; none means now. `device` is the computer the clip was copied on, for an imported
    // one; empty means this computer. A clip of another computer is de-duplicated against that
    // computer's clips and, as its synced clips are, left out of this computer's limits.
    Filing file(const Clip& clip, ModelContext& context,
                const std::optional<QDateTime>& copiedAt = std::nullopt, const QString& device = {}) const;
    // The same, with nothing filed (an empty list) for a clip skipped or failed.
    QList<ClipSyncChange> insert(const Clip& clip, ModelContext& context,
                                 const std::optional<QDateTime>& copiedAt = std::nullopt) const {
        return file(clip, context, copiedAt).changes;
    }
    // Deletes what the history limits no longer allow, without saving; any thread. Within a write
    // unit the deletions name exactly the items walked.
    QList<ClipSyncChange> enforceLimits(ModelContext& context) const;

    void enforceLimitsNow();
    // Records this computer in the sync store (its name kept up to date), after moving the clips
    // filed under the identifier it went by before to the current one. The old Device record stays,
    // named by no clip, until sync has told the server of the move (retiredDevice).
    Device registerThisMac();
    // The old Device record of this computer while the server may still hold its clips under it.
    std::optional<Device> retiredDevice();
    // Records another computer (an imported clip's) in the sync store unless it is known already,
    // so that its clips show its name.
    void rememberDevice(const Device& device);
    void forgetRetiredDevice();
    std::optional<ClipItem> item(const QUuid& id);
    // The changes of the user's commands below are saved at once, each on a context of its own: a
    // change the store could not save is dropped, and they return false, rather than left waiting
    // in the main context where reads would show it and an unrelated later save would write it.
    bool touch(const QUuid& id);
    bool togglePin(const QUuid& id);
    void setPixelSizeIfMissing(const QUuid& id, qint64 width, qint64 height);
    // Deletes the item and, for shared content, its copies from every computer in both stores.
    // False when the item is still there: its store could not save the deletions. Copies in the
    // other store that could not be deleted stay, and are shown, until the user deletes them again.
    bool remove(const QUuid& id);

    static QList<ClipGroup> groups(QList<ClipItem> items);
    static QList<MacRef> macs(QList<ClipItem> items, const QList<Device>& devices);

    std::optional<Clip> loadClip(const QUuid& id, ModelContainer& container) const;
    // The clip an item and its payload stand for: the full text when there is one, else the title.
    static Clip clipFrom(const ClipItem& item, std::optional<ClipPayload> payload);
    qint64 syncedBytes();
    QList<ClipItem> unsyncedItems();
    std::optional<ClipItem> syncItem(const QUuid& id);
    std::optional<ClipPayload> syncPayload(const QUuid& itemID);
    std::optional<Device> syncDevice(const QString& id);

    // Every item of a context, newest first.
    static QList<ClipItem> allItems(ModelContext& context);
    // Every Device record of the sync store.
    QList<Device> devices();

private:
    struct Located {
        ClipItem item;
        ModelContext* context;
    };
    std::optional<Located> locate(const QUuid& id);
    // The new item (and payload, its files written) for a clip seen for the first time here.
    struct NewItem {
        ClipItem item;
        std::optional<StagedPayload> payload;
    };

    void report(const ClipSyncChange& change) const;
    // Saves the changes of one of the user's commands, or drops them; false when they were dropped.
    bool saveCommand(ModelContext& context, const char* what) const;
    // Holds the changes in the sync store's outbox when the context is the sync store's, so that
    // they are saved with the changes themselves and reach the server even if no engine hears them.
    void addToOutbox(ModelContext& context, const QList<ClipSyncChange>& changes) const;
    void adoptPreviousDeviceID();
    void step(FilingStep step, ModelContext& context) const;
    std::optional<QUuid> ownCopy(ModelContext& context, const QString& dedupKey, const QString& device) const;
    NewItem prepareNew(const Clip& clip, ModelContext& context, const QString& device) const;
    // One attempt at filing under the write lock; none when it could not be saved.
    std::optional<QList<ClipSyncChange>> fileOnce(const Clip& clip, const QString& dedupKey,
                                                  const QDateTime& filedAt, const QString& device,
                                                  ModelContext& context,
                                                  std::optional<NewItem>& prepared) const;

    Options options;
    QString deviceID;
    QString previousDeviceID;
    std::shared_ptr<ModelContainer> syncStore;
    std::unique_ptr<ModelContainer> localStore;
    std::unique_ptr<ModelContext> syncMain;
    std::unique_ptr<ModelContext> localMain;
    bool fellBackToMemory = false;
};

} // namespace snipjar
