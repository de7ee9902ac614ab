#pragma once

#include "model/HistoryReader.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace snipjar {

// The rows printed by `snipjar list`: the history rows of both stores, newest first, as a person
// reads them (one tab-separated line per row) or as JSON for scripts.
class HistoryListing {
public:
    HistoryListing(QList<HistoryEntry> entries, const QList<Device>& devices);

    QByteArray text(std::optional<int> limit) const;
    QByteArray json(std::optional<int> limit) const;

private:
    struct Row {
        ClipItem newest;
        HistoryEntry::Store store;
        QString deviceName;
        bool pinned;
    };
    QList<Row> limited(std::optional<int> limit) const;

    QList<Row> rows;
};

} // namespace snipjar
