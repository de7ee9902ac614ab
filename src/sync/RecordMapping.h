#pragma once

#include "image/ImageTranscode.h"
#include "model/ClipRecords.h"
#include "sync/InboundPayload.h"
#include "sync/cloud/CloudRecord.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace snipjar {
class ModelContainer;
}

namespace snipjar::sync {

// How the image of an outgoing payload record is carried: inline up to inlineImageLimit bytes, as
// an asset file above; above transcodeAbove bytes it is re-encoded to that target first (unless its
// type cannot be transcoded). Tests lower transcodeAbove to keep the encoder's work small.
struct PayloadImageRules {
    using Transcoder =
        std::function<std::optional<ImageTranscode::Transcoded>(const QByteArray& bytes, qint64 targetBytes)>;

    qint64 inlineImageLimit = 1'000'000;
    qint64 transcodeAbove = 30'000'000;
    // ImageTranscode::transcode without metadata.
    Transcoder transcode;

    static const PayloadImageRules& standard();
};

// The wire format of the history: ClipItem, ClipPayload and Device records in the history zone,
// and the conversions between them and the stored records.
class RecordMapping {
public:
    static constexpr qint64 inlineImageLimit = 1'000'000;
    static constexpr qint64 payloadImageTarget = 30'000'000;

    // The record to send for a pending save, read through a fresh context on the store's sync
    // container: built on the archived system fields the server last confirmed when there are any,
    // else a new record. None when the entity no longer exists, or (logged) for a name that is
    // none of ours. Image assets it writes belong to ImageAssetFiles (see there).
    static std::optional<cloud::CloudRecord>
    buildRecord(const cloud::RecordID& id, ModelContainer& syncContainer,
                const PayloadImageRules& rules = PayloadImageRules::standard());

    // Writes the synced fields into the record, removing the optional ones that are absent.
    static void applyItem(const ClipItem& item, cloud::CloudRecord& record);
    // The stored payload is never changed; a transcoded image exists only in the record.
    static void applyPayload(const ClipPayload& payload, cloud::CloudRecord& record,
                             const PayloadImageRules& rules = PayloadImageRules::standard());
    static cloud::CloudRecord deviceRecord(const Device& device, const cloud::RecordID& id);

    // A new, not yet inserted item from a fetched "ClipItem" record; none without a "kind" string
    // and a "createdAt" date. Its cloudRecordSystemFields are left for the caller.
    static std::optional<ClipItem> itemFromRecord(const cloud::CloudRecord& record);
    // None unless the record is named "pay-" + UUID.
    static std::optional<InboundPayload> inboundPayload(const cloud::CloudRecord& record);
    // A device (system fields included) from a "dev-" record with a "name" string; else none.
    static std::optional<Device> deviceFromRecord(const cloud::CloudRecord& record);

    // The record an entity's archived system fields stand for, or a new one of the type and ID.
    static cloud::CloudRecord recordOn(const std::optional<QByteArray>& systemFields,
                                       const QString& recordType, const cloud::RecordID& id);
};

} // namespace snipjar::sync
