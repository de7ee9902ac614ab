#include "FuzzInput.h"

#include "sync/RecordMapping.h"
#include "sync/RecordNames.h"
#include "sync/cloud/CloudRecord.h"

#include <cstdio>
#include <cstdlib>

using namespace snipjar;
using cloud::CloudRecord;

// A record as it arrives from a sync server: its name and its field values as one CBOR value,
// then read into an item, a payload or a device. The first part of the input is the record's name,
// the rest the encoded fields.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QList<QByteArray> parts = fuzz::partsOf(fuzz::bytesOf(data, size), 2);
    const QString name = parts.size() == 2 ? QString::fromUtf8(parts.first()) : QStringLiteral("clip-x");
    const QByteArray& fields = parts.last();

    for (const QString& type :
         {sync::RecordNames::itemType, sync::RecordNames::payloadType, sync::RecordNames::deviceType}) {
        CloudRecord record(type, {name, sync::RecordNames::zoneID()});
        if (!record.decodeFields(fields)) {
            SNIPJAR_FUZZ_CHECK(record.fields().isEmpty());
            continue;
        }
        // Decoded values are encoded again as they will be when the record is sent back, and
        // read the same from then on.
        const QByteArray encoded = record.encodeFields();
        CloudRecord again(type, record.recordID());
        SNIPJAR_FUZZ_CHECK(again.decodeFields(encoded));
        SNIPJAR_FUZZ_CHECK(again.encodeFields() == encoded);

        sync::RecordMapping::itemFromRecord(record);
        sync::RecordMapping::inboundPayload(record);
        sync::RecordMapping::deviceFromRecord(record);
        const std::optional<CloudRecord> moved = CloudRecord::unarchive(record.archive());
        SNIPJAR_FUZZ_CHECK(moved && moved->fields().size() == record.fields().size());
    }
    // What is kept beside a local entity and handed between threads is read with the same care.
    CloudRecord::restoreRecord(fields);
    CloudRecord::unarchive(fields);
    return 0;
}
