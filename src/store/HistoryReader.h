#pragma once

#include "model/Clip.h"
#include "model/ClipRecords.h"

#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

namespace snipjar {

// One item read from a store file, with the store it came from.
struct HistoryEntry {
    enum class Store { synced, localOnly };

    ClipItem item;
    Store store = Store::synced;

    bool operator==(const HistoryEntry&) const = default;
};

// Reads the history files of the store folder from another process (the command line) while the
// application may be writing them. The files are opened read-only and wait for the writer's locks;
// nothing is created, migrated, swept or deleted (SQLite may add the WAL index files beside a
// database it reads, with the database's private mode). A missing or unreadable file, or one of an
// unknown schema version, reads as empty.
class HistoryReader {
public:
    // The folder of the stores; AppPaths::storeFolder() unless given.
    explicit HistoryReader(QString folder = QString());

    // Items of both stores, newest first.
    QList<HistoryEntry> items() const;
    // The Device records of the sync store.
    QList<Device> devices() const;
    // The clip of an item of either store, its payload included.
    std::optional<Clip> loadClip(const QUuid& id) const;

private:
    QString folder;
};

} // namespace snipjar
