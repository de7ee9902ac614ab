#include "store/HistoryReader.h"

#include "platform/AppPaths.h"
#include "platform/PrivateFiles.h"
#include "store/BlobStorage.h"
#include "store/ClipStore.h"
#include "store/StoreConnection.h"
#include "store/StoreRows.h"
#include "store/StoreSchema.h"

#include <QFileInfo>
#include <QUrl>

#include <algorithm>

namespace snipjar {

namespace {

struct StoreFile {
    QString name;
    HistoryEntry::Store store;
};

const StoreFile storeFiles[] = {
    {ClipStore::syncStoreName, HistoryEntry::Store::synced},
    {ClipStore::localStoreName, HistoryEntry::Store::localOnly},
};

std::unique_ptr<StoreConnection> openReadOnly(const QString& path) {
    if (!QFileInfo(path).isFile()) {
        return nullptr;
    }
    const QString uri = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) + QStringLiteral("?mode=ro");
    std::unique_ptr<StoreConnection> connection =
        StoreConnection::open(uri, StoreConnection::Access::readOnly);
    if (!connection) {
        return nullptr;
    }
    const std::optional<qint64> version = connection->queryInteger("PRAGMA user_version");
    // Every version since the first has the same ClipItem table.
    if (!version || *version < 1 || *version > StoreSchema::currentVersion) {
        return nullptr;
    }
    return connection;
}

// A read-only connection may create the WAL files when the application is not running; they get
// the database's mode, and this keeps them private whatever happened before.
void keepIndexFilesPrivate(const QString& path) {
    for (const char* suffix : {"-wal", "-shm"}) {
        if (QFileInfo::exists(path + QLatin1String(suffix))) {
            PrivateFiles::restrictFile(path + QLatin1String(suffix));
        }
    }
}

} // namespace

HistoryReader::HistoryReader(QString folder)
    : folder(folder.isEmpty() ? AppPaths::storeFolder() : std::move(folder)) {}

QList<HistoryEntry> HistoryReader::items() const {
    QList<HistoryEntry> entries;
    for (const StoreFile& file : storeFiles) {
        const QString path = folder + QLatin1Char('/') + file.name;
        std::unique_ptr<StoreConnection> connection = openReadOnly(path);
        if (!connection) {
            continue;
        }
        {
            StoreStatement statement = connection->prepare(
                QStringLiteral("SELECT %1 FROM ClipItem ORDER BY createdAt DESC, rowid DESC")
                    .arg(QLatin1String(StoreRows::itemColumns)));
            while (statement.step() == StoreStatement::Step::row) {
                entries.append({StoreRows::readItem(statement), file.store});
            }
        }
        connection.reset();
        keepIndexFilesPrivate(path);
    }
    std::stable_sort(entries.begin(), entries.end(), [](const HistoryEntry& left, const HistoryEntry& right) {
        return left.item.createdAt > right.item.createdAt;
    });
    return entries;
}

QList<Device> HistoryReader::devices() const {
    QList<Device> result;
    const QString path = folder + QLatin1Char('/') + ClipStore::syncStoreName;
    std::unique_ptr<StoreConnection> connection = openReadOnly(path);
    if (!connection) {
        return result;
    }
    {
        StoreStatement statement = connection->prepare(QStringLiteral("SELECT %1 FROM Device ORDER BY rowid")
                                                           .arg(QLatin1String(StoreRows::deviceColumns)));
        while (statement.step() == StoreStatement::Step::row) {
            result.append(StoreRows::readDevice(statement));
        }
    }
    connection.reset();
    keepIndexFilesPrivate(path);
    return result;
}

std::optional<Clip> HistoryReader::loadClip(const QUuid& id) const {
    for (const StoreFile& file : storeFiles) {
        const QString path = folder + QLatin1Char('/') + file.name;
        std::unique_ptr<StoreConnection> connection = openReadOnly(path);
        if (!connection) {
            continue;
        }
        std::optional<ClipItem> item;
        std::optional<StoreRows::PayloadRow> payload;
        // One read transaction, so the item and its payload are seen at the same moment.
        connection->exec("BEGIN");
        {
            StoreStatement statement =
                connection->prepare(QStringLiteral("SELECT %1 FROM ClipItem WHERE id = ? LIMIT 1")
                                        .arg(QLatin1String(StoreRows::itemColumns)));
            statement.bind(1, StoreRows::uuidText(id));
            if (statement.step() == StoreStatement::Step::row) {
                item = StoreRows::readItem(statement);
            }
        }
        if (item && item->hasPayload) {
            // A store of an older version is read as it is, without the columns added since.
            const bool withHtml =
                connection->queryInteger("PRAGMA user_version").value_or(0) >= StoreSchema::htmlVersion;
            StoreStatement statement =
                connection->prepare(QStringLiteral("SELECT %1 FROM ClipPayload WHERE itemID = ? LIMIT 1")
                                        .arg(QLatin1String(withHtml ? StoreRows::payloadColumns
                                                                    : StoreRows::payloadColumnsBeforeHtml)));
            statement.bind(1, StoreRows::uuidText(id));
            if (statement.step() == StoreStatement::Step::row) {
                payload = StoreRows::readPayloadRow(statement);
            }
        }
        std::optional<ClipPayload> records;
        if (payload) {
            const BlobStorage blobs(path + QStringLiteral("-blobs"));
            records = StoreRows::loadPayload(std::move(*payload), &blobs);
        }
        connection->exec("COMMIT");
        connection.reset();
        keepIndexFilesPrivate(path);
        if (!item) {
            continue;
        }
        // The bytes the item stands for are gone: no clip at all rather than one without them. A
        // payload row that has not arrived yet leaves the item's own fields.
        if (payload.has_value() != records.has_value()) {
            return std::nullopt;
        }
        return ClipStore::clipFrom(*item, std::move(records));
    }
    return std::nullopt;
}

} // namespace snipjar
