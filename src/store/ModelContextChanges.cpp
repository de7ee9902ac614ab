#include "store/ModelContext.h"

#include "store/ModelContainer.h"
#include "store/StoreConnection.h"
#include "store/StoreRows.h"

// The changes a context holds until save(): each is a write that save() (or a fetch that must see
// it) applies inside a transaction.

namespace snipjar {

using StoreRows::uuidText;

void ModelContext::insert(const ClipItem& item) {
    hold({[item](StoreConnection& connection, QStringList&) {
              StoreStatement statement = connection.prepare(
                  QStringLiteral("INSERT INTO ClipItem (%1) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)")
                      .arg(QLatin1String(StoreRows::itemColumns)));
              StoreRows::bindItem(statement, item, 1);
              return statement.run();
          },
          {}});
}

void ModelContext::insert(const ClipPayload& payload, PayloadLink link) {
    // The change owns the files it wrote, and removes them when it is dropped unsaved. It keeps the
    // payload by implicit sharing, so the bytes are never copied.
    StagedPayload staged = stage(payload);
    Change change = payloadInsert(staged, link);
    change.writtenFiles = staged.release();
    hold(std::move(change));
}

void ModelContext::insert(const StagedPayload& staged, PayloadLink link) {
    hold(payloadInsert(staged, link));
}

StagedPayload ModelContext::stage(const ClipPayload& payload) const {
    return StagedPayload(payload, owner.blobStorage());
}

ModelContext::Change ModelContext::payloadInsert(const StagedPayload& staged, PayloadLink link) {
    // The row only names the files that hold the large bytes.
    return {[payload = staged.payload(), link, richTextFile = staged.richTextFile(),
             imageFile = staged.imageFile(),
             htmlFile = staged.htmlFile()](StoreConnection& connection, QStringList&) {
                StoreStatement statement = connection.prepare(
                    QStringLiteral("INSERT INTO ClipPayload (itemID, fullText, richTextData, richTextFile, "
                                   "imageData, imageFile, dataUTI, cloudRecordSystemFields, itemLinked, "
                                   "htmlData, htmlFile) VALUES (?,?,?,?,?,?,?,?,?,?,?)"));
                statement.bind(1, uuidText(payload.itemID));
                statement.bind(2, payload.fullText);
                statement.bind(3, richTextFile ? std::nullopt : payload.richTextData);
                statement.bind(4, richTextFile);
                statement.bind(5, imageFile ? std::nullopt : payload.imageData);
                statement.bind(6, imageFile);
                statement.bind(7, payload.dataUTI);
                statement.bind(8, payload.cloudRecordSystemFields);
                statement.bind(9, link == PayloadLink::toItem);
                statement.bind(10, htmlFile ? std::nullopt : payload.htmlData);
                statement.bind(11, htmlFile);
                return statement.run();
            },
            {}};
}

void ModelContext::insert(const Device& device) {
    hold({[device](StoreConnection& connection, QStringList&) {
              StoreStatement statement =
                  connection.prepare(QStringLiteral("INSERT INTO Device (%1) VALUES (?,?,?)")
                                         .arg(QLatin1String(StoreRows::deviceColumns)));
              statement.bind(1, device.id);
              statement.bind(2, device.name);
              statement.bind(3, device.cloudRecordSystemFields);
              return statement.run();
          },
          {}});
}

void ModelContext::update(const ClipItem& item) {
    hold({[item](StoreConnection& connection, QStringList&) {
              StoreStatement statement = connection.prepare(QStringLiteral(
                  "UPDATE ClipItem SET id = ?1, createdAt = ?2, deviceID = ?3, kindRaw = ?4, concealed = ?5, "
                  "pinned = ?6, dedupKey = ?7, byteSize = ?8, title = ?9, thumbnailData = ?10, pixelWidth = "
                  "?11, "
                  "pixelHeight = ?12, hasPayload = ?13, fileURLsJoined = ?14, sourceBundleID = ?15, "
                  "sourceName = ?16, cloudRecordSystemFields = ?17 WHERE id = ?1"));
              StoreRows::bindItem(statement, item, 1);
              return statement.run();
          },
          {}});
}

void ModelContext::update(const Device& device) {
    hold({[device](StoreConnection& connection, QStringList&) {
              StoreStatement statement = connection.prepare(
                  QStringLiteral("UPDATE Device SET name = ?2, cloudRecordSystemFields = ?3 WHERE id = ?1"));
              statement.bind(1, device.id);
              statement.bind(2, device.name);
              statement.bind(3, device.cloudRecordSystemFields);
              return statement.run();
          },
          {}});
}

void ModelContext::setCreatedAt(const QUuid& id, const QDateTime& createdAt) {
    hold(createdAtChange(id, createdAt));
}

ModelContext::Change ModelContext::createdAtChange(const QUuid& id, const QDateTime& createdAt) {
    return {[id, createdAt](StoreConnection& connection, QStringList&) {
                StoreStatement statement =
                    connection.prepare(QStringLiteral("UPDATE ClipItem SET createdAt = ? WHERE id = ?"));
                statement.bind(1, StoreRows::timeValue(createdAt));
                statement.bind(2, uuidText(id));
                return statement.run();
            },
            {}};
}

ModelContext::RowUpdate ModelContext::setCreatedAtNow(const QUuid& id, const QDateTime& createdAt) {
    if (unit != Unit::writing || !applyHeld()) {
        return RowUpdate::failed;
    }
    Change change = createdAtChange(id, createdAt);
    if (!change.apply(*connection, filesToRemoveAfterCommit)) {
        abandonTransaction();
        unit = Unit::broken;
        return RowUpdate::failed;
    }
    if (connection->changedRows() == 0) {
        return RowUpdate::noSuchItem;
    }
    // Held as applied, so that it is written again should the unit have to start afresh.
    hold(std::move(change));
    ++appliedCount;
    return RowUpdate::changed;
}

void ModelContext::setPinned(const QUuid& id, bool pinned) {
    hold({[id, pinned](StoreConnection& connection, QStringList&) {
              StoreStatement statement =
                  connection.prepare(QStringLiteral("UPDATE ClipItem SET pinned = ? WHERE id = ?"));
              statement.bind(1, pinned);
              statement.bind(2, uuidText(id));
              return statement.run();
          },
          {}});
}

void ModelContext::reassignItems(const QString& from, const QString& to) {
    hold({[from, to](StoreConnection& connection, QStringList&) {
              StoreStatement statement =
                  connection.prepare(QStringLiteral("UPDATE ClipItem SET deviceID = ? WHERE deviceID = ?"));
              statement.bind(1, to);
              statement.bind(2, from);
              return statement.run();
          },
          {}});
}

void ModelContext::setPixelSize(const QUuid& id, std::optional<qint64> width, std::optional<qint64> height) {
    hold({[id, width, height](StoreConnection& connection, QStringList&) {
              StoreStatement statement = connection.prepare(
                  QStringLiteral("UPDATE ClipItem SET pixelWidth = ?, pixelHeight = ? WHERE id = ?"));
              statement.bind(1, width);
              statement.bind(2, height);
              statement.bind(3, uuidText(id));
              return statement.run();
          },
          {}});
}

void ModelContext::setCloudRecordSystemFields(const QUuid& id, const std::optional<QByteArray>& fields) {
    hold({[id, fields](StoreConnection& connection, QStringList&) {
              StoreStatement statement = connection.prepare(
                  QStringLiteral("UPDATE ClipItem SET cloudRecordSystemFields = ? WHERE id = ?"));
              statement.bind(1, fields);
              statement.bind(2, uuidText(id));
              return statement.run();
          },
          {}});
}

void ModelContext::setPayloadCloudRecordSystemFields(const QUuid& itemID,
                                                     const std::optional<QByteArray>& fields) {
    hold({[itemID, fields](StoreConnection& connection, QStringList&) {
              StoreStatement statement = connection.prepare(
                  QStringLiteral("UPDATE ClipPayload SET cloudRecordSystemFields = ? WHERE itemID = ?"));
              statement.bind(1, fields);
              statement.bind(2, uuidText(itemID));
              return statement.run();
          },
          {}});
}

void ModelContext::linkPayload(const QUuid& itemID) {
    hold({[itemID](StoreConnection& connection, QStringList&) {
              StoreStatement statement = connection.prepare(
                  QStringLiteral("UPDATE ClipPayload SET itemLinked = 1 WHERE itemID = ?"));
              statement.bind(1, uuidText(itemID));
              return statement.run();
          },
          {}});
}

bool ModelContext::removePayloadRows(StoreConnection& connection, const QString& itemID,
                                     QStringList& filesToRemove) {
    {
        StoreStatement files = connection.prepare(
            QStringLiteral("SELECT richTextFile, imageFile, htmlFile FROM ClipPayload WHERE itemID = ? AND "
                           "(richTextFile IS NOT NULL OR imageFile IS NOT NULL OR htmlFile IS NOT NULL)"));
        files.bind(1, itemID);
        StoreStatement::Step step = files.step();
        while (step == StoreStatement::Step::row) {
            for (int column : {0, 1, 2}) {
                if (const auto name = files.optionalText(column)) {
                    filesToRemove << *name;
                }
            }
            step = files.step();
        }
        if (step == StoreStatement::Step::error) {
            return false;
        }
    }
    StoreStatement statement = connection.prepare(QStringLiteral("DELETE FROM ClipPayload WHERE itemID = ?"));
    statement.bind(1, itemID);
    return statement.run();
}

void ModelContext::removeItem(const QUuid& id) {
    // The payload goes with its item, whether or not it was joined to it: a payload whose item is
    // gone could never be shown or synced again.
    hold({[this, id](StoreConnection& connection, QStringList& filesToRemove) {
              const QString text = uuidText(id);
              if (!removePayloadRows(connection, text, filesToRemove)) {
                  return false;
              }
              StoreStatement statement =
                  connection.prepare(QStringLiteral("DELETE FROM ClipItem WHERE id = ?"));
              statement.bind(1, text);
              return statement.run();
          },
          {}});
}

void ModelContext::removePayload(const QUuid& itemID) {
    hold({[this, itemID](StoreConnection& connection, QStringList& filesToRemove) {
              return removePayloadRows(connection, uuidText(itemID), filesToRemove);
          },
          {}});
}

void ModelContext::removeDevice(const QString& id) {
    hold({[id](StoreConnection& connection, QStringList&) {
              StoreStatement statement =
                  connection.prepare(QStringLiteral("DELETE FROM Device WHERE id = ?"));
              statement.bind(1, id);
              return statement.run();
          },
          {}});
}

void ModelContext::hold(Change change) {
    changes.push_back(std::move(change));
}

void ModelContext::addToOutbox(const ClipSyncChange& change) {
    const qint64 code = change.type == ClipSyncChange::Type::remove ? 2 : change.isNew ? 1 : 0;
    hold({[id = uuidText(change.id), code](StoreConnection& connection, QStringList&) {
              StoreStatement statement =
                  connection.prepare(QStringLiteral("INSERT INTO SyncOutbox (itemID, change) VALUES (?, ?)"));
              statement.bind(1, id);
              statement.bind(2, code);
              return statement.run();
          },
          {}});
}

void ModelContext::removeFromOutbox(const QUuid& itemID, qint64 throughSeq) {
    hold({[id = uuidText(itemID), throughSeq](StoreConnection& connection, QStringList&) {
              StoreStatement statement =
                  connection.prepare(QStringLiteral("DELETE FROM SyncOutbox WHERE itemID = ? AND seq <= ?"));
              statement.bind(1, id);
              statement.bind(2, throughSeq);
              return statement.run();
          },
          {}});
}

void ModelContext::forgetSyncServer() {
    hold({[](StoreConnection& connection, QStringList&) {
              return connection.exec("UPDATE ClipItem SET cloudRecordSystemFields = NULL "
                                     "WHERE cloudRecordSystemFields IS NOT NULL; "
                                     "UPDATE ClipPayload SET cloudRecordSystemFields = NULL "
                                     "WHERE cloudRecordSystemFields IS NOT NULL; "
                                     "UPDATE Device SET cloudRecordSystemFields = NULL "
                                     "WHERE cloudRecordSystemFields IS NOT NULL; "
                                     "DELETE FROM SyncOutbox");
          },
          {}});
}

} // namespace snipjar
