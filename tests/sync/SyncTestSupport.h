#pragma once

#include "ClipStoreTestSupport.h"
#include "SyncLog.h"
#include "sync/RecordNames.h"
#include "sync/cloud/CloudRecord.h"

#include <QLoggingCategory>
#include <QStringList>

#include <gtest/gtest.h>

namespace snipjar::test {

// Records as another computer's sync would have put them on the server.
inline cloud::CloudRecord itemRecord(const QUuid& id, const QString& title, bool pinned = false,
                                     bool hasPayload = false) {
    cloud::CloudRecord record(sync::RecordNames::itemType, sync::RecordNames::itemRecordID(id));
    record.setValue(QStringLiteral("deviceID"), otherMac);
    record.setValue(QStringLiteral("createdAt"), QDateTime(QDate(2025, 3, 9), QTime(8, 30), Qt::UTC));
    record.setValue(QStringLiteral("pinned"), qint64(pinned ? 1 : 0));
    record.setValue(QStringLiteral("kind"), QStringLiteral("text"));
    record.setValue(QStringLiteral("byteSize"), qint64(title.toUtf8().size()));
    record.setValue(QStringLiteral("dedupKey"), QStringLiteral("text:") + title);
    record.setValue(QStringLiteral("title"), title);
    record.setValue(QStringLiteral("hasPayload"), qint64(hasPayload ? 1 : 0));
    record.setChangeTag(QStringLiteral("tag-") + title);
    return record;
}

inline cloud::CloudRecord payloadRecord(const QUuid& itemID, const QString& fullText) {
    cloud::CloudRecord record(sync::RecordNames::payloadType, sync::RecordNames::payloadRecordID(itemID));
    record.setValue(QStringLiteral("fullText"), fullText);
    record.setChangeTag(QStringLiteral("tag-pay-") + fullText.left(8));
    return record;
}

inline cloud::CloudRecord deviceRecord(const QString& deviceID, const QString& name) {
    cloud::CloudRecord record(sync::RecordNames::deviceType, sync::RecordNames::deviceRecordID(deviceID));
    record.setValue(QStringLiteral("name"), name);
    return record;
}

} // namespace snipjar::test
