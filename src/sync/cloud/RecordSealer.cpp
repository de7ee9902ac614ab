#include "sync/cloud/RecordSealer.h"

#include "sync/cloud/FetchedAssetFolder.h"
#include "sync/crypto/SealHeader.h"
#include "sync/crypto/SizeBuckets.h"

#include <QFileInfo>
#include <QtEndian>

namespace snipjar::cloud {

struct RecordSealer::Sealers {
    explicit Sealers(const crypto::HistoryKey& key)
        : values(key)
        , assets(key) {}

    crypto::ValueSealer values;
    crypto::AssetSealer assets;
};

namespace {

QString slotName(int index) {
    return QStringLiteral("a%1").arg(index);
}

bool isSlotName(const QString& key) {
    return key.size() > 1 && key[0] == u'a' &&
           std::all_of(key.begin() + 1, key.end(), [](QChar c) { return c.isDigit(); });
}

void appendPart(QByteArray& data, const QString& part) {
    const QByteArray bytes = part.toUtf8();
    char length[4];
    qToBigEndian(quint32(bytes.size()), length);
    data.append(length, 4);
    data.append(bytes);
}

QList<std::pair<QString, FieldValue>> referencesOf(const CloudRecord& record) {
    QList<std::pair<QString, FieldValue>> references;
    for (const auto& field : record.fields()) {
        if (std::holds_alternative<RecordReference>(field.second)) {
            references.append(field);
        }
    }
    return references;
}

} // namespace

RecordSealer::RecordSealer(const crypto::HistoryKey& key, const std::vector<crypto::HistoryKey>& formerKeys,
                           QString accountBinding, qint64 largestAsset)
    : currentKeyId(key.id())
    , binding(std::move(accountBinding))
    , assetLimit(largestAsset) {
    sealers.emplace_back(currentKeyId, std::make_unique<Sealers>(key));
    for (const auto& former : formerKeys) {
        if (!sealersFor(former.id())) {
            sealers.emplace_back(former.id(), std::make_unique<Sealers>(former));
        }
    }
}

RecordSealer::~RecordSealer() = default;

const RecordSealer::Sealers* RecordSealer::sealersFor(const QString& keyId) const {
    for (const auto& [id, pair] : sealers) {
        if (id == keyId) {
            return pair.get();
        }
    }
    return nullptr;
}

QByteArray RecordSealer::associatedData(const CloudRecord& record, const QString& assetField) const {
    QByteArray data;
    appendPart(data,
               assetField.isEmpty() ? QStringLiteral("snipjar record") : QStringLiteral("snipjar asset"));
    appendPart(data, binding);
    appendPart(data, record.recordID().zone.zoneName);
    appendPart(data, record.recordName());
    appendPart(data, record.recordType());
    if (!assetField.isEmpty()) {
        appendPart(data, assetField);
    }
    return data;
}

RecordSealer::State RecordSealer::stateOf(const CloudRecord& record) const {
    const auto envelope = record.bytes(envelopeKey);
    if (!envelope) {
        return State::plain;
    }
    return crypto::SealHeader::keyIdOf(*envelope) == currentKeyId ? State::sealed : State::sealedWithOtherKey;
}

CloudResult<CloudRecord> RecordSealer::seal(const CloudRecord& plain,
                                            std::shared_ptr<FetchedAssetFolder>& folder) const {
    const Sealers& current = *sealers.front().second;
    const auto refuse = [](const char* why) {
        return CloudError{CloudErrorCode::invalidArguments, QString::fromLatin1(why), std::nullopt};
    };
    CloudRecord sealed(plain.recordType(), plain.recordID());
    sealed.setChangeTag(plain.changeTag());
    for (const auto& [key, value] : referencesOf(plain)) {
        // The clear field names are the envelope's and the slots'.
        if (key == envelopeKey || isSlotName(key)) {
            return refuse("a reference field's name is taken by the sealed form");
        }
        sealed.setValue(key, value);
    }
    sealed.setValue(envelopeKey, current.values.seal(plain.encodeFields(), associatedData(plain)));
    int slot = 0;
    for (const auto& [key, value] : plain.fields()) {
        const auto* asset = std::get_if<Asset>(&value);
        if (asset == nullptr) {
            continue;
        }
        // No file: the server keeps the bytes it holds in this slot.
        QString path;
        if (!asset->filePath.isEmpty()) {
            if (!folder) {
                folder = std::make_shared<FetchedAssetFolder>();
            }
            const auto target = folder->newFilePath();
            if (!target || current.assets.seal(asset->filePath, *target, associatedData(plain, key))) {
                return refuse("an asset file could not be read");
            }
            path = *target;
        }
        sealed.setValue(slotName(slot++), Asset{path});
    }
    return sealed;
}

std::variant<CloudRecord, crypto::SealFailure>
RecordSealer::open(const CloudRecord& sealed, std::shared_ptr<FetchedAssetFolder>& folder) const {
    const auto envelope = sealed.bytes(envelopeKey);
    if (!envelope) {
        return crypto::SealFailure::malformed;
    }
    const Sealers* keys = sealersFor(crypto::SealHeader::keyIdOf(*envelope).value_or(QString()));
    if (keys == nullptr) {
        return crypto::SealHeader::keyIdOf(*envelope) ? crypto::SealFailure::otherKey
                                                      : crypto::SealFailure::malformed;
    }
    crypto::SealFailure failure = crypto::SealFailure::malformed;
    const auto fields = keys->values.open(*envelope, associatedData(sealed), &failure,
                                          crypto::paddedSize(CloudRecord::largestEncodedFields + 1) +
                                              crypto::ValueSealer::overhead());
    if (!fields) {
        return failure;
    }
    CloudRecord opened(sealed.recordType(), sealed.recordID());
    opened.setChangeTag(sealed.changeTag());
    if (!opened.decodeFields(*fields)) {
        return crypto::SealFailure::malformed;
    }
    // The references the server acts on must be the ones sealed.
    if (referencesOf(opened) != referencesOf(sealed)) {
        return crypto::SealFailure::forged;
    }
    int slot = 0;
    const auto openedFields = opened.fields();
    for (const auto& [key, value] : openedFields) {
        if (!std::holds_alternative<Asset>(value)) {
            continue;
        }
        const auto stored = sealed.asset(slotName(slot++));
        if (!stored) {
            return crypto::SealFailure::forged;
        }
        QString path;
        if (QFileInfo(stored->filePath).isFile()) {
            if (!folder) {
                folder = std::make_shared<FetchedAssetFolder>();
            }
            const auto target = folder->newFilePath();
            if (!target) {
                return crypto::SealFailure::unreadable;
            }
            if (auto assetFailure =
                    keys->assets.open(stored->filePath, *target, associatedData(sealed, key), assetLimit)) {
                return *assetFailure;
            }
            path = *target;
        }
        opened.setValue(key, Asset{path});
    }
    return opened;
}

} // namespace snipjar::cloud
