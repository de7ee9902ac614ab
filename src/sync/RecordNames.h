#pragma once

#include "sync/cloud/CloudRecord.h"

#include <QString>
#include <QUuid>

namespace snipjar::sync {

// The zone of the history and the names of its records: "clip-" and "pay-" followed by the item's
// id as an upper-case hyphenated UUID, "dev-" followed by the device identifier unchanged.
class RecordNames {
public:
    static inline const QString zoneName = QStringLiteral("SnipjarHistory");
    static inline const QString itemType = QStringLiteral("ClipItem");
    static inline const QString payloadType = QStringLiteral("ClipPayload");
    static inline const QString deviceType = QStringLiteral("Device");
    static inline const QString itemPrefix = QStringLiteral("clip-");
    static inline const QString payloadPrefix = QStringLiteral("pay-");
    static inline const QString devicePrefix = QStringLiteral("dev-");

    // "SnipjarHistory" of the signed-in user.
    static const cloud::RecordZoneID& zoneID();

    // The UUID as text wherever it becomes part of a name.
    static QString uuidText(const QUuid& id);

    static QString itemName(const QUuid& id) { return itemPrefix + uuidText(id); }
    static QString payloadName(const QUuid& itemID) { return payloadPrefix + uuidText(itemID); }
    static QString deviceName(const QString& deviceID) { return devicePrefix + deviceID; }
    static cloud::RecordID itemRecordID(const QUuid& id) { return {itemName(id), zoneID()}; }
    static cloud::RecordID payloadRecordID(const QUuid& itemID) { return {payloadName(itemID), zoneID()}; }
    static cloud::RecordID deviceRecordID(const QString& deviceID) {
        return {deviceName(deviceID), zoneID()};
    }

    // A record name taken apart. The prefixes are tried in the order "clip-", "pay-", "dev-"; for
    // the first two the rest must be a UUID, else the name is unrecognised.
    struct Parsed {
        enum class Kind { unrecognised, item, payload, device };
        Kind kind = Kind::unrecognised;
        QUuid uuid;       // item and payload
        QString deviceID; // device
    };
    static Parsed parse(const QString& recordName);

    // The rest of a name as a UUID: 36 characters in the hyphenated form, either case.
    static std::optional<QUuid> uuidFrom(const QString& text);
};

} // namespace snipjar::sync
