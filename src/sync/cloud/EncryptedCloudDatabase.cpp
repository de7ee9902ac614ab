#include "sync/cloud/EncryptedCloudDatabase.h"

#include "platform/LogCategories.h"
#include "sync/cloud/FetchedAssetFolder.h"
#include "sync/cloud/RecordSealer.h"

#include <QHash>

namespace snipjar::cloud {

namespace {

QString keyOf(const RecordID& id) {
    return id.zone.zoneName + QLatin1Char('\n') + id.recordName;
}

} // namespace

EncryptedCloudDatabase::EncryptedCloudDatabase(std::shared_ptr<CloudDatabase> inner, crypto::HistoryKey key)
    : EncryptedCloudDatabase(std::move(inner), std::move(key), Options{}) {}

EncryptedCloudDatabase::EncryptedCloudDatabase(std::shared_ptr<CloudDatabase> innerDatabase,
                                               crypto::HistoryKey key, Options options)
    : inner(std::move(innerDatabase))
    , sealer(std::make_unique<RecordSealer>(key, options.formerKeys,
                                            options.accountBinding.isEmpty() ? inner->accountIdentity()
                                                                             : options.accountBinding,
                                            options.largestAsset))
    , plainAccepted(options.acceptPlain)
    , onUnreadableChanged(std::move(options.onUnreadableChanged)) {}

EncryptedCloudDatabase::~EncryptedCloudDatabase() = default;

CloudStatus EncryptedCloudDatabase::saveZone(const RecordZoneID& zone) {
    return inner->saveZone(zone);
}

int EncryptedCloudDatabase::unreadableCount() const {
    QMutexLocker locker(&unreadableLock);
    return int(unreadable.size());
}

void EncryptedCloudDatabase::noteReadable(const RecordID& id, bool readable, const QString& reason) {
    int count = 0;
    {
        QMutexLocker locker(&unreadableLock);
        const QString key = keyOf(id);
        if (readable ? !unreadable.remove(key) : unreadable.contains(key)) {
            return;
        }
        if (!readable) {
            unreadable.insert(key);
            // Once per record, however often it comes back.
            qCWarning(lcSync) << "Refused a record from the server that could not be opened:" << id.recordName
                              << reason;
        }
        count = int(unreadable.size());
    }
    if (onUnreadableChanged) {
        onUnreadableChanged(count);
    }
}

std::optional<CloudRecord> EncryptedCloudDatabase::openRecord(const CloudRecord& sealed,
                                                              std::shared_ptr<FetchedAssetFolder>& folder) {
    if (sealer->stateOf(sealed) == RecordSealer::State::plain) {
        if (plainAccepted) {
            noteReadable(sealed.recordID(), true);
            return sealed;
        }
        noteReadable(sealed.recordID(), false, QStringLiteral("it is not sealed"));
        return std::nullopt;
    }
    auto opened = sealer->open(sealed, folder);
    if (const auto* failure = std::get_if<crypto::SealFailure>(&opened)) {
        noteReadable(sealed.recordID(), false, crypto::sealFailureText(*failure));
        return std::nullopt;
    }
    noteReadable(sealed.recordID(), true);
    return std::get<CloudRecord>(std::move(opened));
}

CloudResult<ModifyOutcome> EncryptedCloudDatabase::modifyRecords(const QList<CloudRecord>& saves,
                                                                 const QList<RecordID>& deletions) {
    conflictAssets.reset();
    // The sealed assets live as long as the call.
    std::shared_ptr<FetchedAssetFolder> sealedAssets;
    ModifyOutcome outcome;
    QList<CloudRecord> sealedSaves;
    QHash<QString, qsizetype> plainIndex;
    for (qsizetype i = 0; i < saves.size(); ++i) {
        auto sealed = sealer->seal(saves[i], sealedAssets);
        if (!sealed) {
            outcome.failedSaves.append({saves[i], sealed.error()});
            continue;
        }
        plainIndex.insert(keyOf(saves[i].recordID()), i);
        sealedSaves.append(std::move(sealed.value()));
    }
    auto answer = inner->modifyRecords(sealedSaves, deletions);
    if (!answer) {
        return answer.error();
    }
    const auto plainOf = [&](const CloudRecord& sealed) -> const CloudRecord* {
        const qsizetype at = plainIndex.value(keyOf(sealed.recordID()), -1);
        return at < 0 ? nullptr : &saves[at];
    };
    // Saved: the record as it was handed in, with the server's new tag.
    for (const CloudRecord& sealed : answer.value().saved) {
        if (const CloudRecord* plain = plainOf(sealed)) {
            CloudRecord record = *plain;
            record.setChangeTag(sealed.changeTag());
            outcome.saved.append(std::move(record));
        }
    }
    for (auto& [sealed, error] : answer.value().failedSaves) {
        const CloudRecord* plain = plainOf(sealed);
        if (plain == nullptr) {
            continue;
        }
        if (error.serverRecord) {
            // A server record that does not open is no basis for a merge: without it the caller
            // treats the conflict as one it cannot resolve from here and fetches.
            error.serverRecord = openRecord(*error.serverRecord, conflictAssets);
        }
        outcome.failedSaves.append({*plain, std::move(error)});
    }
    outcome.deleted = answer.value().deleted;
    outcome.failedDeletes = answer.value().failedDeletes;
    for (const RecordID& id : outcome.deleted) {
        noteReadable(id, true);
    }
    return outcome;
}

CloudResult<ChangePage> EncryptedCloudDatabase::fetchChanges(const RecordZoneID& zone,
                                                             const std::optional<ChangeToken>& since) {
    auto answer = inner->fetchChanges(zone, since);
    if (!answer) {
        return answer;
    }
    ChangePage& sealedPage = answer.value();
    ChangePage page;
    std::shared_ptr<FetchedAssetFolder> folder;
    bool plainKept = false;
    for (const CloudRecord& sealed : sealedPage.modifications) {
        if (auto opened = openRecord(sealed, folder)) {
            plainKept = plainKept || sealer->stateOf(sealed) == RecordSealer::State::plain;
            page.modifications.append(std::move(*opened));
        }
    }
    for (const RecordDeletion& deletion : sealedPage.deletions) {
        noteReadable(deletion.id, true);
    }
    page.deletions = std::move(sealedPage.deletions);
    page.nextToken = sealedPage.nextToken;
    page.moreComing = sealedPage.moreComing;
    // The sealed files go now unless a plain record still names one of them.
    if (plainKept) {
        page.assetFiles =
            std::make_shared<std::pair<std::shared_ptr<const void>, std::shared_ptr<FetchedAssetFolder>>>(
                std::move(sealedPage.assetFiles), std::move(folder));
    } else {
        page.assetFiles = std::move(folder);
    }
    return page;
}

std::unique_ptr<PushSubscription> EncryptedCloudDatabase::subscribe(std::function<void()> onNotice) {
    return inner->subscribe(std::move(onNotice));
}

void EncryptedCloudDatabase::cancel() {
    inner->cancel();
}

QString EncryptedCloudDatabase::accountIdentity() const {
    // The key is part of it: an engine that synced the account plain (and skipped the sealed
    // records it could not read) or with another key starts cold, and fetches every record again.
    return inner->accountIdentity() + QStringLiteral(" sealed ") + sealer->keyId();
}

} // namespace snipjar::cloud
