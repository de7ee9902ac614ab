#pragma once

#include "store/HistoryReader.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace snipjar {

// The rows printed by `snipjar list`: the history rows of both stores, newest first, as a person
// reads them (one tab-separated line per row) or as JSON for scripts.
class HistoryListing {
public:
    // Which rows are kept: of one stored kind, pinned ones, one computer's (by name or id), those
    // copied at or after `since` and before `until`, those whose title matches a query by the
    // panel's rules.
    struct Filter {
        std::optional<QString> kindRaw;
        bool pinnedOnly = false;
        std::optional<QString> device;
        std::optional<QString> query;
        std::optional<QDateTime> since;
        std::optional<QDateTime> until;
    };

    HistoryListing(QList<HistoryEntry> entries, const QList<Device>& devices);

    // "synced" or "local-only", as the rows and scripts name a store.
    static QString storeName(HistoryEntry::Store store);

    void keep(const Filter& filter);
    qsizetype size() const { return rows.size(); }

    // One line per row, each ended by `end` (a line feed, or NUL for scripts).
    QByteArray text(std::optional<int> limit, char end = '\n') const;
    QByteArray json(std::optional<int> limit) const;

    // One row as text (without its end) and as JSON, for a clip in `store`; `deviceName` is empty
    // when the computer has no record. watch prints its rows with these, so they match list's.
    static QByteArray rowText(const ClipItem& item, HistoryEntry::Store store, const QString& deviceName,
                              bool pinned);
    static QJsonObject rowJson(const ClipItem& item, HistoryEntry::Store store, const QString& deviceName,
                               bool pinned);

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
