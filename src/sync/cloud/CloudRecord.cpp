#include "sync/cloud/CloudRecord.h"

#include <QCborArray>
#include <QCborValue>

namespace snipjar::cloud {

namespace {

// Tags of our own for the two value types CBOR has no standard form for.
constexpr auto referenceTag = QCborTag(40100);
constexpr auto assetTag = QCborTag(40101);

const QString systemFieldsLayout = QStringLiteral("snipjar-record-system-v1");
const QString wholeRecordLayout = QStringLiteral("snipjar-record-v1");

enum class AssetForm { keyOnly, withPath };

QCborValue encodeValue(const FieldValue& value, AssetForm assetForm) {
    return std::visit(
        [assetForm](const auto& v) -> QCborValue {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, QString>) {
                return QCborValue(v);
            } else if constexpr (std::is_same_v<T, qint64>) {
                return QCborValue(v);
            } else if constexpr (std::is_same_v<T, QDateTime>) {
                return QCborValue(v.toUTC());
            } else if constexpr (std::is_same_v<T, QByteArray>) {
                return QCborValue(v);
            } else if constexpr (std::is_same_v<T, RecordReference>) {
                return QCborValue(referenceTag,
                                  QCborArray{v.target.recordName, v.target.zone.zoneName,
                                             v.target.zone.ownerName, static_cast<qint64>(v.action)});
            } else {
                return QCborValue(assetTag, assetForm == AssetForm::withPath ? QCborValue(v.filePath)
                                                                             : QCborValue(QCborValue::Null));
            }
        },
        value);
}

std::optional<FieldValue> decodeValue(const QCborValue& value) {
    switch (value.type()) {
    case QCborValue::String:
        return FieldValue(value.toString());
    case QCborValue::Integer:
        return FieldValue(static_cast<qint64>(value.toInteger()));
    case QCborValue::ByteArray:
        return FieldValue(value.toByteArray());
    case QCborValue::DateTime: {
        const QDateTime date = value.toDateTime();
        if (!date.isValid()) {
            return std::nullopt;
        }
        return FieldValue(date.toUTC());
    }
    case QCborValue::Tag:
        break;
    default:
        return std::nullopt;
    }
    const QCborValue content = value.taggedValue();
    if (value.tag() == referenceTag) {
        const QCborArray parts = content.toArray();
        if (parts.size() != 4 || !parts[0].isString() || !parts[1].isString() || !parts[2].isString() ||
            !parts[3].isInteger()) {
            return std::nullopt;
        }
        const qint64 action = parts[3].toInteger();
        if (action != 0 && action != 1) {
            return std::nullopt;
        }
        return FieldValue(RecordReference{{parts[0].toString(), {parts[1].toString(), parts[2].toString()}},
                                          static_cast<RecordReference::Action>(action)});
    }
    if (value.tag() == assetTag) {
        if (!content.isNull() && !content.isString()) {
            return std::nullopt;
        }
        return FieldValue(Asset{content.toString()});
    }
    return std::nullopt;
}

QCborArray encodeFieldList(const QList<std::pair<QString, FieldValue>>& values, AssetForm assetForm) {
    QCborArray list;
    for (const auto& [key, value] : values) {
        list.append(QCborArray{key, encodeValue(value, assetForm)});
    }
    return list;
}

// Values of types this layout does not know are left out, as if absent.
std::optional<QList<std::pair<QString, FieldValue>>> decodeFieldList(const QCborValue& value) {
    if (!value.isArray()) {
        return std::nullopt;
    }
    CloudRecord collected;
    for (const QCborValue& entry : value.toArray()) {
        const QCborArray pair = entry.toArray();
        if (!entry.isArray() || pair.size() != 2 || !pair[0].isString()) {
            return std::nullopt;
        }
        if (auto decoded = decodeValue(pair[1])) {
            collected.setValue(pair[0].toString(), std::move(*decoded));
        }
    }
    return collected.fields();
}

std::optional<QCborArray> parseLayout(const QByteArray& bytes, const QString& layout, qsizetype size) {
    if (bytes.size() > CloudRecord::largestEncodedFields * 2) {
        return std::nullopt;
    }
    QCborParserError error;
    const QCborValue parsed = QCborValue::fromCbor(bytes, &error);
    if (error.error != QCborError::NoError || !parsed.isArray()) {
        return std::nullopt;
    }
    const QCborArray parts = parsed.toArray();
    if (parts.size() != size || parts[0].toString() != layout) {
        return std::nullopt;
    }
    for (qsizetype i = 1; i < 5; ++i) {
        if (!parts[i].isString()) {
            return std::nullopt;
        }
    }
    if (!parts[5].isString() && !parts[5].isNull()) {
        return std::nullopt;
    }
    return parts;
}

CloudRecord recordFrom(const QCborArray& parts) {
    CloudRecord record(parts[1].toString(),
                       {parts[2].toString(), {parts[3].toString(), parts[4].toString()}});
    if (parts[5].isString()) {
        record.setChangeTag(parts[5].toString());
    }
    return record;
}

QCborArray systemParts(const QString& layout, const CloudRecord& record) {
    const RecordID& id = record.recordID();
    return QCborArray{layout,
                      record.recordType(),
                      id.recordName,
                      id.zone.zoneName,
                      id.zone.ownerName,
                      record.changeTag() ? QCborValue(*record.changeTag()) : QCborValue(QCborValue::Null)};
}

} // namespace

CloudRecord::CloudRecord(QString recordType, RecordID id)
    : type(std::move(recordType))
    , identity(std::move(id)) {}

const FieldValue* CloudRecord::value(const QString& key) const {
    for (const auto& [name, value] : values) {
        if (name == key) {
            return &value;
        }
    }
    return nullptr;
}

void CloudRecord::setValue(const QString& key, FieldValue value) {
    for (auto& [name, existing] : values) {
        if (name == key) {
            existing = std::move(value);
            return;
        }
    }
    values.append({key, std::move(value)});
}

void CloudRecord::removeValue(const QString& key) {
    values.removeIf([&key](const auto& entry) { return entry.first == key; });
}

namespace {
template <typename T> std::optional<T> typed(const FieldValue* value) {
    if (value == nullptr || !std::holds_alternative<T>(*value)) {
        return std::nullopt;
    }
    return std::get<T>(*value);
}
} // namespace

std::optional<QString> CloudRecord::string(const QString& key) const {
    return typed<QString>(value(key));
}
std::optional<qint64> CloudRecord::integer(const QString& key) const {
    return typed<qint64>(value(key));
}
std::optional<QDateTime> CloudRecord::date(const QString& key) const {
    return typed<QDateTime>(value(key));
}
std::optional<QByteArray> CloudRecord::bytes(const QString& key) const {
    return typed<QByteArray>(value(key));
}
std::optional<RecordReference> CloudRecord::reference(const QString& key) const {
    return typed<RecordReference>(value(key));
}
std::optional<Asset> CloudRecord::asset(const QString& key) const {
    return typed<Asset>(value(key));
}

QByteArray CloudRecord::encodeFields() const {
    return QCborValue(encodeFieldList(values, AssetForm::keyOnly)).toCbor();
}

bool CloudRecord::decodeFields(const QByteArray& cbor) {
    if (cbor.size() > largestEncodedFields) {
        return false;
    }
    QCborParserError error;
    const QCborValue parsed = QCborValue::fromCbor(cbor, &error);
    if (error.error != QCborError::NoError) {
        return false;
    }
    auto decoded = decodeFieldList(parsed);
    if (!decoded) {
        return false;
    }
    values = std::move(*decoded);
    return true;
}

QByteArray CloudRecord::archiveSystemFields() const {
    return QCborValue(systemParts(systemFieldsLayout, *this)).toCbor();
}

std::optional<CloudRecord> CloudRecord::restoreRecord(const QByteArray& archive) {
    const auto parts = parseLayout(archive, systemFieldsLayout, 6);
    if (!parts) {
        return std::nullopt;
    }
    return recordFrom(*parts);
}

QByteArray CloudRecord::archive() const {
    QCborArray parts = systemParts(wholeRecordLayout, *this);
    parts.append(encodeFieldList(values, AssetForm::withPath));
    return QCborValue(parts).toCbor();
}

std::optional<CloudRecord> CloudRecord::unarchive(const QByteArray& archive) {
    const auto parts = parseLayout(archive, wholeRecordLayout, 7);
    if (!parts) {
        return std::nullopt;
    }
    auto fields = decodeFieldList(parts->at(6));
    if (!fields) {
        return std::nullopt;
    }
    CloudRecord record = recordFrom(*parts);
    record.values = std::move(*fields);
    return record;
}

} // namespace snipjar::cloud
