#pragma once

#include "app/cli/HistoryAccess.h"
#include "store/HistoryReader.h"

#include <memory>

namespace snipjar {

// The store files used by the command process when no Snipjar runs. Reading goes through the
// read-only HistoryReader, so that listing never creates a history; the store is opened for the
// first write only.
class DirectAccess : public HistoryAccess {
public:
    DirectAccess();
    ~DirectAccess() override;

    QList<HistoryEntry> entries() override;
    QList<Device> devices() override;
    std::optional<Clip> loadClip(const QUuid& id) override;
    ClipStore* store() override;
    std::optional<QUuid> file(const Clip& clip) override;

    // Files a clip into a fresh context of the container its local-only rule chooses, as the
    // capture does; the changes of the sync store go to its onSyncChange.
    static std::optional<QUuid> fileInto(ClipStore& store, const Clip& clip);

private:
    HistoryReader reader;
    std::unique_ptr<ClipStore> openedStore;
    bool openFailed = false;
};

} // namespace snipjar
