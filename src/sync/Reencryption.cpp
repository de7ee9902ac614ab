#include "sync/Reencryption.h"

#include "platform/LogCategories.h"
#include "platform/PrivateFiles.h"
#include "sync/cloud/FetchedAssetFolder.h"
#include "sync/cloud/RecordSealer.h"

#include <QFile>

namespace snipjar::sync {

namespace {

// What one modify call carries at most: well under the server's request limit.
constexpr int batchRecords = 100;
constexpr qint64 batchBytes = 1 << 20;

cloud::CloudError cancelledError() {
    return {cloud::CloudErrorCode::operationCancelled, QStringLiteral("re-encryption cancelled"),
            std::nullopt};
}

} // namespace

Reencryption::Reencryption(std::shared_ptr<cloud::CloudDatabase> innerDatabase, const crypto::HistoryKey& key,
                           const std::vector<crypto::HistoryKey>& formerKeys, const QString& accountBinding,
                           cloud::RecordZoneID zoneID)
    : inner(std::move(innerDatabase))
    , sealer(std::make_unique<cloud::RecordSealer>(
          key, formerKeys, accountBinding.isEmpty() ? inner->accountIdentity() : accountBinding, 1LL << 30))
    , zone(std::move(zoneID)) {}

Reencryption::~Reencryption() = default;

bool Reencryption::markPending(const QString& flagFile) {
    return PrivateFiles::writeFile(flagFile, QByteArrayLiteral("pending\n"),
                                   PrivateFiles::Durability::Synced);
}

bool Reencryption::isPending(const QString& flagFile) {
    return QFile::exists(flagFile);
}

void Reencryption::clearPending(const QString& flagFile) {
    QFile::remove(flagFile);
}

void Reencryption::cancel() {
    cancelled = true;
    inner->cancel();
}

cloud::CloudResult<Reencryption::Progress>
Reencryption::run(int maxPasses, const std::function<void(const Progress&)>& onProgress) {
    Progress progress;
    while (progress.passes < maxPasses) {
        ++progress.passes;
        progress.unreadable = 0;
        auto left = pass(progress, onProgress);
        if (!left) {
            return left.error();
        }
        if (left.value() == 0) {
            progress.finished = true;
            break;
        }
    }
    qCInfo(lcSync) << "Re-encryption:" << progress.rewritten << "records rewritten in" << progress.passes
                   << "passes," << progress.conflicts << "conflicts," << progress.unreadable
                   << "sealed with a key not held;" << (progress.finished ? "finished" : "not finished");
    if (onProgress) {
        onProgress(progress);
    }
    return progress;
}

cloud::CloudResult<int> Reencryption::pass(Progress& progress,
                                           const std::function<void(const Progress&)>& onProgress) {
    int left = 0;
    std::optional<cloud::ChangeToken> token;
    for (bool more = true; more;) {
        if (cancelled) {
            return cancelledError();
        }
        auto page = inner->fetchChanges(zone, token);
        if (!page) {
            return page.error();
        }
        // Records sealed with a former key are opened here; plain ones are as fetched.
        std::shared_ptr<cloud::FetchedAssetFolder> opened;
        QList<cloud::CloudRecord> plain;
        for (const cloud::CloudRecord& record : page.value().modifications) {
            const auto state = sealer->stateOf(record);
            if ((toPlain || plainRefused) && state == cloud::RecordSealer::State::plain) {
                continue;
            }
            if (!toPlain && state == cloud::RecordSealer::State::sealed) {
                continue;
            }
            if (state == cloud::RecordSealer::State::plain) {
                plain.append(record);
                continue;
            }
            auto open = sealer->open(record, opened);
            if (auto* openedRecord = std::get_if<cloud::CloudRecord>(&open)) {
                plain.append(std::move(*openedRecord));
            } else {
                ++progress.unreadable;
            }
        }
        left += int(plain.size());
        if (auto status = rewrite(plain, progress); !status) {
            return status.error();
        }
        token = page.value().nextToken;
        more = page.value().moreComing;
        if (onProgress) {
            onProgress(progress);
        }
    }
    return left;
}

cloud::CloudStatus Reencryption::rewrite(const QList<cloud::CloudRecord>& plain, Progress& progress) {
    for (qsizetype start = 0; start < plain.size();) {
        if (cancelled) {
            return cancelledError();
        }
        // The sealed assets live as long as the call that uploads them.
        std::shared_ptr<cloud::FetchedAssetFolder> sealedAssets;
        QList<cloud::CloudRecord> batch;
        qint64 bytes = 0;
        for (; start < plain.size() && batch.size() < batchRecords && bytes < batchBytes; ++start) {
            if (toPlain) {
                // Opened already, with its asset files in the pass's folder.
                bytes += plain[start].archive().size();
                batch.append(plain[start]);
                continue;
            }
            auto sealed = sealer->seal(plain[start], sealedAssets);
            if (!sealed) {
                qCWarning(lcSync) << "Re-encryption left a record plain:" << plain[start].recordName()
                                  << sealed.error().description;
                continue;
            }
            bytes += sealed.value().bytes(cloud::RecordSealer::envelopeKey)->size();
            batch.append(std::move(sealed.value()));
        }
        auto outcome = inner->modifyRecords(batch, {});
        if (!outcome) {
            return outcome.error();
        }
        progress.rewritten += int(outcome.value().saved.size());
        // Changed meanwhile (or refused): whatever is still plain is found again by the next pass.
        progress.conflicts += int(outcome.value().failedSaves.size());
    }
    return std::monostate{};
}

} // namespace snipjar::sync
