#pragma once

#include "sync/cloud/CloudDatabase.h"
#include "sync/crypto/HistoryKey.h"

#include <QMutex>
#include <QSet>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace snipjar::cloud {

class FetchedAssetFolder;
class RecordSealer;

// A cloud database whose server holds the history sealed under the account's history key:
// every record saved through it is sealed (see RecordSealer) with its assets, which are sealed into
// private temporary files that are gone when the call returns; every record fetched, and those a
// modify call hands back, is opened again. A fetched record that does not open (sealed with another
// key, damaged, moved from another record or account, or plain once plain records are refused) is
// never handed on: it is left out of its page, logged once, and counted; the rest of the page is
// delivered.
class EncryptedCloudDatabase : public CloudDatabase {
public:
    struct Options {
        // Whether plain records are handed on as they are: only while the account's records are
        // being rewritten sealed. Afterwards a plain record is refused, or the server could forge
        // clips.
        bool acceptPlain = false;
        // Keys that open what was sealed before the key changed; nothing is sealed with them.
        std::vector<crypto::HistoryKey> formerKeys;
        // What binds every value to the account; empty for the inner database's accountIdentity().
        // Give something that outlives a change of the server's address (its epoch and the account
        // id), or every record stops opening when the address changes.
        QString accountBinding;
        // Largest asset opened; a larger one is refused before it is read.
        qint64 largestAsset = 1LL << 30;
        // Called, on the thread of the call that found out, when the number of records that could
        // not be opened changed.
        std::function<void(int count)> onUnreadableChanged;
    };

    EncryptedCloudDatabase(std::shared_ptr<CloudDatabase> inner, crypto::HistoryKey key, Options options);
    EncryptedCloudDatabase(std::shared_ptr<CloudDatabase> inner, crypto::HistoryKey key);
    ~EncryptedCloudDatabase() override;

    CloudStatus saveZone(const RecordZoneID& zone) override;
    CloudResult<ModifyOutcome> modifyRecords(const QList<CloudRecord>& saves,
                                             const QList<RecordID>& deletions) override;
    CloudResult<ChangePage> fetchChanges(const RecordZoneID& zone,
                                         const std::optional<ChangeToken>& since) override;
    std::unique_ptr<PushSubscription> subscribe(std::function<void()> onNotice) override;
    void cancel() override;
    QString accountIdentity() const override;

    // Any thread: from now on plain records are handed on (true) or refused (false).
    void setAcceptPlain(bool accept) { plainAccepted = accept; }
    // Any thread: how many records seen on the server could not be opened and were not seen open
    // or deleted since. Records, not clips: a clip is its item record and, when large, a payload
    // record beside it.
    int unreadableCount() const;

private:
    // The opened record, or none when it was refused (and counted).
    std::optional<CloudRecord> openRecord(const CloudRecord& sealed,
                                          std::shared_ptr<FetchedAssetFolder>& folder);
    void noteReadable(const RecordID& id, bool readable, const QString& reason = {});

    std::shared_ptr<CloudDatabase> inner;
    std::unique_ptr<RecordSealer> sealer;
    std::atomic<bool> plainAccepted;
    std::function<void(int)> onUnreadableChanged;
    // The opened assets of the conflicts of the last modify call, kept until the next one.
    std::shared_ptr<FetchedAssetFolder> conflictAssets;
    mutable QMutex unreadableLock;
    QSet<QString> unreadable;
};

} // namespace snipjar::cloud
