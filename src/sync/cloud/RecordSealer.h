#pragma once

#include "sync/cloud/CloudError.h"
#include "sync/cloud/CloudRecord.h"
#include "sync/crypto/AssetSealer.h"
#include "sync/crypto/HistoryKey.h"
#include "sync/crypto/SealFailure.h"
#include "sync/crypto/ValueSealer.h"

#include <QString>

#include <memory>
#include <variant>
#include <vector>

namespace snipjar::cloud {

class FetchedAssetFolder;

// A record's sealed form, what the server holds of an encrypted history: the same type, name,
// zone and change tag; the references in the clear (the server deletes by them); one sealed
// envelope with every field value, the references again (so that the server cannot change them
// unseen) and the dedup key and device id among them; and each asset sealed in a slot named by its
// position ("a0", "a1"...), never by its field. The envelope and every asset are bound to the
// account, zone, record name, type and key, so that none of them opens anywhere else.
class RecordSealer {
public:
    static inline const QString envelopeKey = QStringLiteral("sealed");

    enum class State { plain, sealed, sealedWithOtherKey };

    // `accountBinding` names the account the values belong to; formerKeys open what was sealed
    // with them (while a key change rewrites the history), but nothing is sealed with them.
    RecordSealer(const crypto::HistoryKey& key, const std::vector<crypto::HistoryKey>& formerKeys,
                 QString accountBinding, qint64 largestAsset);
    ~RecordSealer();

    const QString& keyId() const { return currentKeyId; }
    State stateOf(const CloudRecord& record) const;

    // The sealed copy; its asset files are new files in `folder`, made when first needed. Fails
    // (not transiently) when an asset file cannot be read.
    CloudResult<CloudRecord> seal(const CloudRecord& plain,
                                  std::shared_ptr<FetchedAssetFolder>& folder) const;
    // The opened copy; its asset files are new files in `folder`, made when first needed.
    std::variant<CloudRecord, crypto::SealFailure> open(const CloudRecord& sealed,
                                                        std::shared_ptr<FetchedAssetFolder>& folder) const;

private:
    struct Sealers;

    QByteArray associatedData(const CloudRecord& record, const QString& assetField = {}) const;
    const Sealers* sealersFor(const QString& keyId) const;

    QString currentKeyId;
    QString binding;
    qint64 assetLimit;
    std::vector<std::pair<QString, std::unique_ptr<Sealers>>> sealers; // the current key's first
};

} // namespace snipjar::cloud
