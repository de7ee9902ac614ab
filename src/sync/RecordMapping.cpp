#include "sync/RecordMapping.h"

#include "platform/LogCategories.h"
#include "store/ModelContainer.h"
#include "store/ModelContext.h"
#include "sync/ImageAssetFiles.h"
#include "sync/RecordFieldKeys.h"
#include "sync/RecordNames.h"

namespace snipjar::sync {

using cloud::CloudRecord;
using cloud::RecordID;
using cloud::RecordReference;

namespace {

// Image types the transcoder cannot re-encode; too large, they travel without their image.
bool isTranscodable(const std::optional<QString>& dataUTI) {
    static const QStringList untranscodable{QStringLiteral("com.compuserve.gif"),
                                            QStringLiteral("com.adobe.pdf"),
                                            QStringLiteral("public.svg-image")};
    return !dataUTI || !untranscodable.contains(*dataUTI);
}

template <typename Value>
void setOrRemove(CloudRecord& record, const QString& field, const std::optional<Value>& value) {
    if (value) {
        record.setValue(field, *value);
    } else {
        record.removeValue(field);
    }
}

qint64 flag(bool value) {
    return value ? 1 : 0;
}

} // namespace

const PayloadImageRules& PayloadImageRules::standard() {
    static const PayloadImageRules rules{RecordMapping::inlineImageLimit, RecordMapping::payloadImageTarget,
                                         [](const QByteArray& bytes, qint64 targetBytes) {
                                             return ImageTranscode::transcode(bytes, targetBytes,
                                                                              /*keepMetadata=*/false);
                                         }};
    return rules;
}

CloudRecord RecordMapping::recordOn(const std::optional<QByteArray>& systemFields, const QString& recordType,
                                    const RecordID& id) {
    if (systemFields) {
        std::optional<CloudRecord> restored = CloudRecord::restoreRecord(*systemFields);
        // Fields archived for another record are as good as none.
        if (restored && restored->recordID() == id && restored->recordType() == recordType) {
            return std::move(*restored);
        }
    }
    return CloudRecord(recordType, id);
}

std::optional<CloudRecord> RecordMapping::buildRecord(const RecordID& id, ModelContainer& syncContainer,
                                                      const PayloadImageRules& rules) {
    const RecordNames::Parsed name = RecordNames::parse(id.recordName);
    const std::unique_ptr<ModelContext> context = syncContainer.newContext();
    switch (name.kind) {
    case RecordNames::Parsed::Kind::item: {
        const std::optional<ClipItem> item = context->item(name.uuid);
        if (!item) {
            return std::nullopt;
        }
        CloudRecord record = recordOn(item->cloudRecordSystemFields, RecordNames::itemType, id);
        applyItem(*item, record);
        return record;
    }
    case RecordNames::Parsed::Kind::payload: {
        const std::optional<ClipPayload> payload = context->payload(name.uuid);
        if (!payload) {
            return std::nullopt;
        }
        CloudRecord record = recordOn(payload->cloudRecordSystemFields, RecordNames::payloadType, id);
        applyPayload(*payload, record, rules);
        return record;
    }
    case RecordNames::Parsed::Kind::device: {
        const std::optional<Device> device = context->device(name.deviceID);
        if (!device) {
            return std::nullopt;
        }
        return deviceRecord(*device, id);
    }
    case RecordNames::Parsed::Kind::unrecognised:
        break;
    }
    qCCritical(lcSync).noquote()
        << QStringLiteral("buildRecord: unrecognized record name %1").arg(id.recordName);
    return std::nullopt;
}

void RecordMapping::applyItem(const ClipItem& item, CloudRecord& record) {
    record.setValue(key::deviceRef, RecordReference{RecordNames::deviceRecordID(item.deviceID),
                                                    RecordReference::Action::deleteSelf});
    record.setValue(key::deviceID, item.deviceID);
    record.setValue(key::createdAt, item.createdAt);
    record.setValue(key::pinned, flag(item.pinned));
    record.setValue(key::kind, item.kindRaw);
    record.setValue(key::byteSize, item.byteSize);
    record.setValue(key::dedupKey, item.dedupKey);
    record.setValue(key::title, item.title);
    setOrRemove(record, key::thumbnail, item.thumbnailData);
    record.setValue(key::hasPayload, flag(item.hasPayload));
    setOrRemove(record, key::sourceName, item.sourceName);
    setOrRemove(record, key::sourceBundleID, item.sourceBundleID);
}

void RecordMapping::applyPayload(const ClipPayload& payload, CloudRecord& record,
                                 const PayloadImageRules& rules) {
    record.setValue(key::itemRef, RecordReference{RecordNames::itemRecordID(payload.itemID),
                                                  RecordReference::Action::deleteSelf});
    setOrRemove(record, key::fullText, payload.fullText);
    setOrRemove(record, key::richText, payload.richTextData);
    setOrRemove(record, key::dataUTI, payload.dataUTI);
    record.removeValue(key::image);
    record.removeValue(key::imageAsset);
    if (!payload.imageData) {
        return;
    }

    QByteArray image = *payload.imageData;
    std::optional<QString> dataUTI = payload.dataUTI;
    if (image.size() > rules.transcodeAbove) {
        if (!isTranscodable(dataUTI) || !rules.transcode) {
            return;
        }
        std::optional<ImageTranscode::Transcoded> transcoded = rules.transcode(image, rules.transcodeAbove);
        if (!transcoded) {
            return;
        }
        image = std::move(transcoded->bytes);
        dataUTI = std::move(transcoded->dataUTI);
    }
    setOrRemove(record, key::dataUTI, dataUTI);

    if (image.size() > rules.inlineImageLimit) {
        if (std::optional<cloud::Asset> asset = ImageAssetFiles::write(image, record.recordName())) {
            record.setValue(key::imageAsset, std::move(*asset));
        }
    } else {
        record.setValue(key::image, image);
    }
}

CloudRecord RecordMapping::deviceRecord(const Device& device, const RecordID& id) {
    CloudRecord record = recordOn(device.cloudRecordSystemFields, RecordNames::deviceType, id);
    record.setValue(key::name, device.name);
    return record;
}

} // namespace snipjar::sync
