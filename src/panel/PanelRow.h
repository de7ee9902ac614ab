#pragma once

#include "model/ClipKind.h"
#include "model/MacRef.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

namespace snipjar {

// One line of the panel's result list: the newest clip of a group of the same content, and the
// computers the group's copies come from. A plain value; its identity is `id`.
struct PanelRow {
    // The id of the group's newest clip.
    QUuid id;
    ClipKind kind = ClipKind::unknown;
    // The clip's stored title, the only field the search looks at.
    QString text;
    int fileCount = 0;
    QDateTime createdAt;
    QString deviceID;
    // In the order the group lists its origins, newest copy first.
    QList<MacRef> origins;
    bool concealed = false;
    // True when any copy of the group is pinned.
    bool pinned = false;

    bool operator==(const PanelRow&) const = default;
};

} // namespace snipjar
