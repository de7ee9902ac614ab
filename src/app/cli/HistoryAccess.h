#pragma once

#include "model/Clip.h"
#include "model/ClipRecords.h"
#include "store/HistoryReader.h"

#include <QList>
#include <QUuid>

#include <optional>

namespace snipjar {

class ClipStore;

// What the commands read and write: the running Snipjar's own store, or the store files opened by
// the command process itself.
class HistoryAccess {
public:
    virtual ~HistoryAccess() = default;

    // Items of both stores, newest first.
    virtual QList<HistoryEntry> entries() = 0;
    virtual QList<Device> devices() = 0;
    virtual std::optional<Clip> loadClip(const QUuid& id) = 0;
    // The store writes go to; none when it cannot be opened (the command fails, nothing changes).
    virtual ClipStore* store() = 0;
    // Files a clip through the store's filing rules (de-duplication, limits); the id of the item it
    // became (or moved to the top), none when it could not be filed.
    virtual std::optional<QUuid> file(const Clip& clip) = 0;
    // Called after every change, so that what shows the history can follow.
    virtual void changed() {}
};

} // namespace snipjar
