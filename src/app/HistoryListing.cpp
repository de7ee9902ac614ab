#include "app/HistoryListing.h"

#include "panel/PanelRow.h"
#include "panel/RowFilter.h"
#include "store/ClipStore.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace snipjar {

namespace {

constexpr int plainTitleLimit = 160;

QString createdText(const QDateTime& createdAt) {
    return createdAt.toLocalTime().toString(Qt::ISODateWithMs);
}

// Line breaks and tabs would break the one-row-per-line layout.
QString singleLine(const QString& title) {
    QString line = title;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    for (const QChar breaking : {QChar(u'\n'), QChar(u'\r'), QChar(u'\t'), QChar(0x2028), QChar(0x2029)}) {
        line.replace(breaking, QLatin1Char(' '));
    }
    if (Clip::exceedsCharacters(line, plainTitleLimit)) {
        line = Clip::leadingCharacters(line, plainTitleLimit - 1) + QStringLiteral("\u2026");
    }
    return line;
}

} // namespace

HistoryListing::HistoryListing(QList<HistoryEntry> entries, const QList<Device>& devices) {
    QHash<QUuid, HistoryEntry::Store> storeOf;
    QList<ClipItem> items;
    items.reserve(entries.size());
    for (HistoryEntry& entry : entries) {
        storeOf.insert(entry.item.id, entry.store);
        items << std::move(entry.item);
    }
    QHash<QString, QString> names;
    for (const MacRef& mac : ClipStore::macs(items, devices)) {
        names.insert(mac.id, mac.name);
    }
    for (const ClipGroup& group : ClipStore::groups(std::move(items))) {
        rows << Row{group.newest, storeOf.value(group.newest.id), names.value(group.newest.deviceID),
                    group.anyPinned};
    }
}

QString HistoryListing::storeName(HistoryEntry::Store store) {
    return store == HistoryEntry::Store::localOnly ? QStringLiteral("local-only") : QStringLiteral("synced");
}

void HistoryListing::keep(const Filter& filter) {
    QList<Row> kept;
    for (const Row& row : std::as_const(rows)) {
        if (filter.kindRaw && row.newest.kindRaw != *filter.kindRaw) {
            continue;
        }
        if (filter.pinnedOnly && !row.pinned) {
            continue;
        }
        if ((filter.since && row.newest.createdAt < *filter.since) ||
            (filter.until && row.newest.createdAt >= *filter.until)) {
            continue;
        }
        if (filter.device && row.newest.deviceID != *filter.device &&
            row.deviceName.compare(*filter.device, Qt::CaseInsensitive) != 0) {
            continue;
        }
        kept << row;
    }
    if (filter.query) {
        QList<PanelRow> panelRows;
        panelRows.reserve(kept.size());
        for (const Row& row : std::as_const(kept)) {
            PanelRow panelRow;
            panelRow.id = row.newest.id;
            panelRow.kind = row.newest.kind();
            panelRow.text = row.newest.title;
            panelRows << panelRow;
        }
        RowFilter rowFilter;
        rowFilter.index(panelRows);
        std::vector<qsizetype> visible;
        rowFilter.filter(panelRows, *filter.query, TypeScope::all, std::nullopt, visible);
        QList<Row> matching;
        for (const qsizetype position : visible) {
            matching << kept.at(position);
        }
        kept = std::move(matching);
    }
    rows = std::move(kept);
}

QList<HistoryListing::Row> HistoryListing::limited(std::optional<int> limit) const {
    if (!limit || *limit >= rows.size()) {
        return rows;
    }
    return rows.mid(0, *limit);
}

QByteArray HistoryListing::rowText(const ClipItem& item, HistoryEntry::Store store, const QString& deviceName,
                                   bool pinned) {
    const QStringList columns = {item.id.toString(QUuid::WithoutBraces).toUpper(),
                                 item.kindRaw,
                                 singleLine(item.title),
                                 deviceName.isEmpty() ? item.deviceID : deviceName,
                                 pinned ? QStringLiteral("pinned") : QStringLiteral("-"),
                                 createdText(item.createdAt),
                                 storeName(store)};
    return columns.join(QLatin1Char('\t')).toUtf8();
}

QJsonObject HistoryListing::rowJson(const ClipItem& item, HistoryEntry::Store store,
                                    const QString& deviceName, bool pinned) {
    QJsonObject object;
    object.insert(QStringLiteral("id"), item.id.toString(QUuid::WithoutBraces).toUpper());
    object.insert(QStringLiteral("kind"), item.kindRaw);
    object.insert(QStringLiteral("title"), item.title);
    object.insert(QStringLiteral("device"), item.deviceID);
    object.insert(QStringLiteral("deviceName"), deviceName);
    object.insert(QStringLiteral("pinned"), pinned);
    object.insert(QStringLiteral("createdAt"), item.createdAt.toUTC().toString(Qt::ISODateWithMs));
    object.insert(QStringLiteral("store"), storeName(store));
    object.insert(QStringLiteral("byteSize"), item.byteSize);
    object.insert(QStringLiteral("source"),
                  item.sourceName.value_or(item.sourceBundleID.value_or(QString())));
    return object;
}

QByteArray HistoryListing::text(std::optional<int> limit, char end) const {
    QByteArray out;
    for (const Row& row : limited(limit)) {
        out += rowText(row.newest, row.store, row.deviceName, row.pinned);
        out += end;
    }
    return out;
}

QByteArray HistoryListing::json(std::optional<int> limit) const {
    QJsonArray array;
    for (const Row& row : limited(limit)) {
        array.append(rowJson(row.newest, row.store, row.deviceName, row.pinned));
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

} // namespace snipjar
