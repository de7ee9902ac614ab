#include "store/StoreSchema.h"

#include "platform/LogCategories.h"
#include "store/StoreConnection.h"

#include <array>
#include <span>

namespace snipjar {

namespace {

// Column names are the record fields' own names. No column is unique: the code that inserts never
// creates a second record with an existing identifier, and the indexes serve the lookups.
// Large payload bytes may live in files beside the database; the *File columns then name the file.
constexpr const char* versionOne[] = {
    R"(CREATE TABLE ClipItem (
        id TEXT NOT NULL,
        createdAt INTEGER NOT NULL,
        deviceID TEXT NOT NULL DEFAULT '',
        kindRaw TEXT NOT NULL DEFAULT 'text',
        concealed INTEGER NOT NULL DEFAULT 0,
        pinned INTEGER NOT NULL DEFAULT 0,
        dedupKey TEXT NOT NULL DEFAULT '',
        byteSize INTEGER NOT NULL DEFAULT 0,
        title TEXT NOT NULL DEFAULT '',
        thumbnailData BLOB,
        pixelWidth INTEGER,
        pixelHeight INTEGER,
        hasPayload INTEGER NOT NULL DEFAULT 0,
        fileURLsJoined TEXT,
        sourceBundleID TEXT,
        sourceName TEXT,
        cloudRecordSystemFields BLOB))",
    R"(CREATE TABLE ClipPayload (
        itemID TEXT NOT NULL,
        fullText TEXT,
        richTextData BLOB,
        richTextFile TEXT,
        imageData BLOB,
        imageFile TEXT,
        dataUTI TEXT,
        cloudRecordSystemFields BLOB,
        itemLinked INTEGER NOT NULL DEFAULT 0))",
    R"(CREATE TABLE Device (
        id TEXT NOT NULL,
        name TEXT NOT NULL DEFAULT '',
        cloudRecordSystemFields BLOB))",
    "CREATE INDEX ClipItem_dedupKey_deviceID ON ClipItem (dedupKey, deviceID)",
    "CREATE INDEX ClipItem_createdAt ON ClipItem (createdAt)",
    "CREATE INDEX ClipItem_id ON ClipItem (id)",
    // Covers the walk of the history limits, which runs at every filed clip.
    "CREATE INDEX ClipItem_deviceID_createdAt ON ClipItem (deviceID, createdAt, pinned, byteSize, id)",
    "CREATE INDEX ClipPayload_itemID ON ClipPayload (itemID)",
    "CREATE INDEX Device_id ON Device (id)",
};

// The sync outbox: every change of the sync store that the sync server must hear of, written in the
// transaction of the change itself and removed once the server confirmed it, so that a change made
// while no sync engine runs (the command line with the application closed, sync switched off) or
// lost with the process before the engine's state was written is still sent. `change` is 0 for an
// edit, 1 for a new clip (its payload goes too) and 2 for a deletion.
constexpr const char* versionTwo[] = {
    R"(CREATE TABLE SyncOutbox (
        seq INTEGER PRIMARY KEY AUTOINCREMENT,
        itemID TEXT NOT NULL,
        change INTEGER NOT NULL))",
    "CREATE INDEX SyncOutbox_itemID ON SyncOutbox (itemID)",
};

// The HTML offered beside copied text, inline or (when large) in a file named by htmlFile. Rows
// written before have neither, which reads as a clip without HTML.
constexpr const char* versionThree[] = {
    "ALTER TABLE ClipPayload ADD COLUMN htmlData BLOB",
    "ALTER TABLE ClipPayload ADD COLUMN htmlFile TEXT",
};

struct Migration {
    int toVersion;
    std::span<const char* const> statements;
};

// Each step takes the file from the previous version to toVersion. Later versions append here.
const std::array migrations{
    Migration{1, versionOne},
    Migration{2, versionTwo},
    Migration{3, versionThree},
};

} // namespace

StoreSchema::Outcome StoreSchema::migrate(StoreConnection& connection) {
    // Reading the version inside the write transaction keeps two processes opening a new file at
    // the same moment from both creating the tables.
    if (!connection.exec("BEGIN IMMEDIATE")) {
        return Outcome::failed;
    }
    const auto rollBack = [&connection](Outcome outcome) {
        connection.exec("ROLLBACK");
        return outcome;
    };
    const std::optional<qint64> version = connection.queryInteger("PRAGMA user_version");
    if (!version) {
        return rollBack(Outcome::failed);
    }
    if (*version > currentVersion) {
        qCWarning(lcStore) << "store written by a newer version:" << *version;
        return rollBack(Outcome::tooNew);
    }
    if (*version == currentVersion) {
        connection.exec("COMMIT");
        return Outcome::current;
    }
    for (const Migration& migration : migrations) {
        if (migration.toVersion <= *version) {
            continue;
        }
        for (const char* statement : migration.statements) {
            if (!connection.exec(statement)) {
                qCWarning(lcStore) << "schema migration failed at version" << migration.toVersion;
                return rollBack(Outcome::failed);
            }
        }
    }
    const QByteArray setVersion = "PRAGMA user_version = " + QByteArray::number(currentVersion);
    if (!connection.exec(setVersion.constData()) || !connection.exec("COMMIT")) {
        return rollBack(Outcome::failed);
    }
    if (*version > 0) {
        qCInfo(lcStore) << "store migrated from version" << *version << "to" << currentVersion;
    }
    return Outcome::migrated;
}

} // namespace snipjar
