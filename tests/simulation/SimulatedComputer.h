#pragma once

#include "store/ClipStore.h"
#include "sync/ClipSyncEngine.h"
#include "sync/SyncEngineStateStore.h"
#include "sync/cloud/CloudDatabase.h"

#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <memory>

namespace snipjar::test {

// One of the user's computers: a history store in memory, a state file and a clip sync engine that
// talks to a cloud through connections the simulation hands it.
class SimulatedComputer {
public:
    using Connect = std::function<std::shared_ptr<cloud::CloudDatabase>()>;

    // With a former identifier, and a store in the application's store folder when onDisk.
    SimulatedComputer(const QString& deviceID, const QString& stateFile, Connect connect,
                      const QString& formerDeviceID = {},
                      ClipStore::Location location = ClipStore::Location::inMemory);

    ClipStore& store() { return *clipStore; }
    sync::ClipSyncEngine& engine() { return *syncEngine; }

    // Files a text as a copy made on this computer would be, reporting its changes to sync.
    void copy(const QString& text);
    // The synced clips of this store, newest first.
    QList<QUuid> clipIDs();

    // Starts the engine and waits for its first send and fetch; false when that took too long.
    bool start();
    bool restart() {
        quit();
        return start();
    }
    // Drops the engine, as quitting does; start() makes a new one on the same state file.
    void quit();
    // Sends and fetches, waiting for the end; false when that took too long.
    bool syncNow();
    // Whether the fetch of the last syncNow() went through.
    bool fetched() const { return lastFetchWentThrough; }
    bool hasPendingChanges() { return !syncEngine->engine().state().pendingRecordZoneChanges().isEmpty(); }

    // Everything that must be the same on every computer, one line per record, sorted.
    QStringList snapshot();

private:
    void makeEngine() {
        syncEngine = std::make_unique<sync::ClipSyncEngine>(*clipStore, *stateStore, connect());
    }

    Connect connect;
    std::unique_ptr<ClipStore> clipStore;
    std::unique_ptr<sync::SyncEngineStateStore> stateStore;
    std::unique_ptr<sync::ClipSyncEngine> syncEngine;
    bool lastFetchWentThrough = false;
};

} // namespace snipjar::test
