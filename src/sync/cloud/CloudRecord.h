#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace snipjar::cloud {

// A zone of one owner's records. The owner "__defaultOwner__" stands for the signed-in user.
struct RecordZoneID {
    static inline const QString defaultOwner = QStringLiteral("__defaultOwner__");

    QString zoneName;
    QString ownerName = defaultOwner;

    bool operator==(const RecordZoneID&) const = default;
};

// The whole identity of a record: its name within a zone.
struct RecordID {
    QString recordName;
    RecordZoneID zone;

    bool operator==(const RecordID&) const = default;
};

// A reference from one record to another. With deleteSelf the server deletes the referring record
// together with its target.
struct RecordReference {
    enum class Action { none = 0, deleteSelf = 1 };

    RecordID target;
    Action action = Action::none;

    bool operator==(const RecordReference&) const = default;
};

// Bytes kept beside a record rather than in it. On a record to save, filePath names the file to
// upload; on a fetched record, a private temporary file that exists while the fetch's event is
// handled.
struct Asset {
    QString filePath;

    bool operator==(const Asset&) const = default;
};

using FieldValue = std::variant<QString, qint64, QDateTime, QByteArray, RecordReference, Asset>;

// One record: type, identity, the server's change tag (none until the server confirmed it) and
// field values by key, in the order they were first set.
class CloudRecord {
public:
    CloudRecord() = default;
    CloudRecord(QString recordType, RecordID id);

    const QString& recordType() const { return type; }
    const RecordID& recordID() const { return identity; }
    const QString& recordName() const { return identity.recordName; }
    const std::optional<QString>& changeTag() const { return tag; }
    void setChangeTag(std::optional<QString> value) { tag = std::move(value); }

    const QList<std::pair<QString, FieldValue>>& fields() const { return values; }
    const FieldValue* value(const QString& key) const;
    void setValue(const QString& key, FieldValue value);
    void removeValue(const QString& key);

    // Typed reads: none when the key is absent or holds another type.
    std::optional<QString> string(const QString& key) const;
    std::optional<qint64> integer(const QString& key) const;
    std::optional<QDateTime> date(const QString& key) const;
    std::optional<QByteArray> bytes(const QString& key) const;
    std::optional<RecordReference> reference(const QString& key) const;
    std::optional<Asset> asset(const QString& key) const;

    // The field values as one opaque CBOR byte value, which is all the server stores of them.
    // Assets are written as their key only; the bytes travel beside the record.
    QByteArray encodeFields() const;
    // Replaces the field values with decoded ones; false (and nothing changed) for bytes that are
    // not a field map of this layout, are truncated or exceed the size limits.
    bool decodeFields(const QByteArray& cbor);

    // The system fields only (type, identity, change tag), as stored beside a local entity.
    QByteArray archiveSystemFields() const;
    // A record without field values from archived system fields; none for bytes of another layout.
    static std::optional<CloudRecord> restoreRecord(const QByteArray& archive);

    // The whole record, system fields and values (asset file paths included), for handing a
    // fetched record to another thread as plain bytes.
    QByteArray archive() const;
    static std::optional<CloudRecord> unarchive(const QByteArray& archive);

    bool operator==(const CloudRecord&) const = default;

    // Largest encoded field map accepted from a server.
    static constexpr qint64 largestEncodedFields = 64LL * 1024 * 1024;

private:
    QString type;
    RecordID identity;
    std::optional<QString> tag;
    QList<std::pair<QString, FieldValue>> values;
};

} // namespace snipjar::cloud
