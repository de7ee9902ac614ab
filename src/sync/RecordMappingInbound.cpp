#include "sync/RecordMapping.h"

#include "sync/RecordFieldKeys.h"
#include "sync/RecordNames.h"

// The reading side of the record mapping: records as they arrive from a server become items,
// payloads and devices. Kept apart from the sending side, which needs the store, so that these
// readers can be fuzzed on their own.
namespace snipjar::sync {

using cloud::CloudRecord;

std::optional<ClipItem> RecordMapping::itemFromRecord(const CloudRecord& record) {
    const std::optional<QString> kind = record.string(key::kind);
    const std::optional<QDateTime> createdAt = record.date(key::createdAt);
    if (!kind || !createdAt) {
        return std::nullopt;
    }
    ClipItem item;
    const RecordNames::Parsed name = RecordNames::parse(record.recordName());
    item.id = name.kind == RecordNames::Parsed::Kind::item ? name.uuid : QUuid::createUuid();
    item.createdAt = *createdAt;
    item.deviceID = record.string(key::deviceID).value_or(QString());
    item.kindRaw = *kind;
    item.pinned = record.integer(key::pinned).value_or(0) != 0;
    item.byteSize = record.integer(key::byteSize).value_or(0);
    item.dedupKey = record.string(key::dedupKey).value_or(QString());
    item.title = record.string(key::title).value_or(QString());
    item.thumbnailData = record.bytes(key::thumbnail);
    item.hasPayload = record.integer(key::hasPayload).value_or(0) != 0;
    item.sourceName = record.string(key::sourceName);
    item.sourceBundleID = record.string(key::sourceBundleID);
    item.cloudRecordSystemFields.reset();
    return item;
}

std::optional<InboundPayload> RecordMapping::inboundPayload(const CloudRecord& record) {
    const RecordNames::Parsed name = RecordNames::parse(record.recordName());
    if (name.kind != RecordNames::Parsed::Kind::payload) {
        return std::nullopt;
    }
    InboundPayload payload;
    payload.itemID = name.uuid;
    payload.fullText = record.string(key::fullText);
    payload.richText = record.bytes(key::richText);
    payload.dataUTI = record.string(key::dataUTI);
    payload.inlineImage = record.bytes(key::image);
    if (const std::optional<cloud::Asset> asset = record.asset(key::imageAsset);
        asset && !asset->filePath.isEmpty()) {
        payload.assetPath = asset->filePath;
    }
    payload.systemFields = record.archiveSystemFields();
    return payload;
}

std::optional<Device> RecordMapping::deviceFromRecord(const CloudRecord& record) {
    const RecordNames::Parsed name = RecordNames::parse(record.recordName());
    const std::optional<QString> deviceName = record.string(key::name);
    if (name.kind != RecordNames::Parsed::Kind::device || !deviceName) {
        return std::nullopt;
    }
    return Device{name.deviceID, *deviceName, record.archiveSystemFields()};
}

} // namespace snipjar::sync
