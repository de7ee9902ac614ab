#pragma once

#include "sync/engine/StateSerialization.h"

#include <QString>

#include <memory>
#include <optional>

namespace snipjar::sync {

// The sync engine's state between runs, in one JSON file beside the history stores. Saves are
// handed to one writer thread and written in the order they were made; a save still waiting when a
// newer one arrives is dropped, so the newest state always ends up in the file. Each write replaces
// the file atomically (a crash during a save leaves the previous complete file); the file is 0600
// and its folder 0700.
//
// load() and save() may be called from any thread; failures are logged and absorbed.
class SyncEngineStateStore {
public:
    static inline const QString fileName = QStringLiteral("sync-engine-state.v2.json");
    static inline const QString retiredFileName = QStringLiteral("sync-engine-state.v1.json");

    explicit SyncEngineStateStore(QString filePath);
    // Waits for the save in progress and writes the newest one still waiting.
    ~SyncEngineStateStore();
    SyncEngineStateStore(const SyncEngineStateStore&) = delete;
    SyncEngineStateStore& operator=(const SyncEngineStateStore&) = delete;

    // The store at AppPaths::storeFolder() + fileName, resolved now; deletes the retired version-1
    // file there (its state is never read).
    static std::unique_ptr<SyncEngineStateStore> standard();

    const QString& filePath() const { return path; }

    // None for a missing, empty or undecodable file (the engine then starts cold). Sees every save
    // made before it, also those not yet written.
    std::optional<StateSerialization> load() const;
    // Queues the state for writing and returns at once.
    void save(const StateSerialization& state);
    // Blocks until every save made before the call is in the file (or has failed and been logged).
    void waitForSaves() const;

private:
    class Writer;

    const QString path;
    std::unique_ptr<Writer> writer;
};

} // namespace snipjar::sync
