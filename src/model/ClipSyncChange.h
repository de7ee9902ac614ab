#pragma once

#include <QUuid>

namespace snipjar {

// One change of the sync store that the sync engine must send: an item saved (created when isNew)
// or deleted.
struct ClipSyncChange {
    enum class Type { save, remove };

    Type type = Type::save;
    QUuid id;
    bool isNew = false;

    static ClipSyncChange save(const QUuid& id, bool isNew) { return {Type::save, id, isNew}; }
    static ClipSyncChange remove(const QUuid& id) { return {Type::remove, id, false}; }

    bool operator==(const ClipSyncChange&) const = default;
};

} // namespace snipjar
