#pragma once

#include "model/ClipRecords.h"

#include <QStringList>

namespace snipjar {

// One visible history row: the same content copied on one or more computers.
struct ClipGroup {
    ClipItem newest;
    // The distinct device identifiers of the group's items, newest first.
    QStringList originIDs;
    bool anyPinned = false;

    bool operator==(const ClipGroup&) const = default;
};

} // namespace snipjar
