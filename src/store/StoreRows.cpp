#include "store/StoreRows.h"

#include "store/BlobStorage.h"
#include "store/StoreConnection.h"

namespace snipjar::StoreRows {

const char* const itemColumns =
    "id, createdAt, deviceID, kindRaw, concealed, pinned, dedupKey, byteSize, title, "
    "thumbnailData, pixelWidth, pixelHeight, hasPayload, fileURLsJoined, "
    "sourceBundleID, sourceName, cloudRecordSystemFields";
const char* const payloadColumns =
    "itemID, fullText, richTextData, richTextFile, imageData, imageFile, dataUTI, cloudRecordSystemFields, "
    "htmlData, htmlFile";
const char* const payloadColumnsBeforeHtml =
    "itemID, fullText, richTextData, richTextFile, imageData, imageFile, dataUTI, cloudRecordSystemFields, "
    "NULL, NULL";
const char* const deviceColumns = "id, name, cloudRecordSystemFields";

QString uuidText(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QUuid uuidFrom(const QString& text) {
    return QUuid::fromString(text);
}

qint64 timeValue(const QDateTime& time) {
    return time.toMSecsSinceEpoch();
}

QDateTime timeFrom(qint64 value) {
    return QDateTime::fromMSecsSinceEpoch(value, Qt::UTC);
}

ClipItem readItem(const StoreStatement& row) {
    ClipItem item;
    item.id = uuidFrom(row.text(0));
    item.createdAt = timeFrom(row.integer(1));
    item.deviceID = row.text(2);
    item.kindRaw = row.text(3);
    item.concealed = row.boolean(4);
    item.pinned = row.boolean(5);
    item.dedupKey = row.text(6);
    item.byteSize = row.integer(7);
    item.title = row.text(8);
    item.thumbnailData = row.optionalBytes(9);
    item.pixelWidth = row.optionalInteger(10);
    item.pixelHeight = row.optionalInteger(11);
    item.hasPayload = row.boolean(12);
    item.fileURLsJoined = row.optionalText(13);
    item.sourceBundleID = row.optionalText(14);
    item.sourceName = row.optionalText(15);
    item.cloudRecordSystemFields = row.optionalBytes(16);
    return item;
}

void bindItem(StoreStatement& statement, const ClipItem& item, int first) {
    int index = first;
    statement.bind(index++, uuidText(item.id));
    statement.bind(index++, timeValue(item.createdAt));
    statement.bind(index++, item.deviceID);
    statement.bind(index++, item.kindRaw);
    statement.bind(index++, item.concealed);
    statement.bind(index++, item.pinned);
    statement.bind(index++, item.dedupKey);
    statement.bind(index++, item.byteSize);
    statement.bind(index++, item.title);
    statement.bind(index++, item.thumbnailData);
    statement.bind(index++, item.pixelWidth);
    statement.bind(index++, item.pixelHeight);
    statement.bind(index++, item.hasPayload);
    statement.bind(index++, item.fileURLsJoined);
    statement.bind(index++, item.sourceBundleID);
    statement.bind(index++, item.sourceName);
    statement.bind(index++, item.cloudRecordSystemFields);
}

PayloadRow readPayloadRow(const StoreStatement& row) {
    PayloadRow result;
    result.payload.itemID = uuidFrom(row.text(0));
    result.payload.fullText = row.optionalText(1);
    result.payload.richTextData = row.optionalBytes(2);
    result.richTextFile = row.optionalText(3);
    result.payload.imageData = row.optionalBytes(4);
    result.imageFile = row.optionalText(5);
    result.payload.dataUTI = row.optionalText(6);
    result.payload.cloudRecordSystemFields = row.optionalBytes(7);
    result.payload.htmlData = row.optionalBytes(8);
    result.htmlFile = row.optionalText(9);
    return result;
}

std::optional<ClipPayload> loadPayload(PayloadRow row, const BlobStorage* blobs) {
    const auto fill = [blobs](const std::optional<QString>& file, std::optional<QByteArray>& bytes) {
        if (!file) {
            return true;
        }
        if (!blobs) {
            return false;
        }
        bytes = blobs->read(*file);
        return bytes.has_value();
    };
    if (!fill(row.richTextFile, row.payload.richTextData) || !fill(row.imageFile, row.payload.imageData) ||
        !fill(row.htmlFile, row.payload.htmlData)) {
        return std::nullopt;
    }
    return std::move(row.payload);
}

Device readDevice(const StoreStatement& row) {
    Device device;
    device.id = row.text(0);
    device.name = row.text(1);
    device.cloudRecordSystemFields = row.optionalBytes(2);
    return device;
}

} // namespace snipjar::StoreRows
