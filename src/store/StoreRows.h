#pragma once

#include "model/ClipRecords.h"

#include <QDateTime>
#include <QString>
#include <QUuid>

namespace snipjar {

class BlobStorage;
class StoreStatement;

// The mapping between the records and the rows of the store's tables, shared by the model context
// and the read-only history reader.
namespace StoreRows {

// Every ClipItem column, in the order readItem expects and bindItem binds.
extern const char* const itemColumns;
constexpr int itemColumnCount = 17;
// ClipPayload columns read by readPayloadRow.
extern const char* const payloadColumns;
// The same for a store of a version without the HTML columns, read as it is (without migrating it).
extern const char* const payloadColumnsBeforeHtml;
extern const char* const deviceColumns;

// The stored form of identifiers and times: upper-case hyphenated UUIDs, milliseconds since the epoch.
QString uuidText(const QUuid& id);
QUuid uuidFrom(const QString& text);
qint64 timeValue(const QDateTime& time);
QDateTime timeFrom(qint64 value);

ClipItem readItem(const StoreStatement& row);
// Binds every column of itemColumns, starting at parameter `first`.
void bindItem(StoreStatement& statement, const ClipItem& item, int first);

// A payload row as stored: bytes inline, or the name of the file that holds them.
struct PayloadRow {
    ClipPayload payload;
    std::optional<QString> richTextFile;
    std::optional<QString> imageFile;
    std::optional<QString> htmlFile;
};
PayloadRow readPayloadRow(const StoreStatement& row);
// The payload with the bytes of the files its row names; none when one of them cannot be read (or
// there is no folder to read it from): a payload without its bytes would pass for one that never had
// any, an image clip without its image.
std::optional<ClipPayload> loadPayload(PayloadRow row, const BlobStorage* blobs);

Device readDevice(const StoreStatement& row);

} // namespace StoreRows

} // namespace snipjar
