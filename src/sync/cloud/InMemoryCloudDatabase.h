#pragma once

#include "sync/cloud/CloudDatabase.h"
#include "sync/cloud/InMemoryCloudServer.h"

#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <memory>

namespace snipjar::cloud {

// One owner's client of an InMemoryCloudServer. Asset files of saved records are read when the
// modify call is made; the assets of fetched records (and of the server records carried by
// conflicts) are written to private files (0600) in a private folder (0700) of this client, which
// stay until the next call of this client or its destruction.
class InMemoryCloudDatabase : public CloudDatabase {
public:
    InMemoryCloudDatabase(std::shared_ptr<InMemoryCloudServer> server, QString owner);
    ~InMemoryCloudDatabase() override;

    CloudStatus saveZone(const RecordZoneID& zone) override;
    CloudResult<ModifyOutcome> modifyRecords(const QList<CloudRecord>& saves,
                                             const QList<RecordID>& deletions) override;
    CloudResult<ChangePage> fetchChanges(const RecordZoneID& zone,
                                         const std::optional<ChangeToken>& since) override;
    std::unique_ptr<PushSubscription> subscribe(std::function<void()> onNotice) override;
    void cancel() override;
    QString accountIdentity() const override;

    const QString& owner() const { return ownerName; }
    InMemoryCloudServer& server() { return *host; }

private:
    std::optional<CloudError> enter();
    CloudRecord materialize(const InMemoryCloudServer::StoredRecord& stored);
    void removeFilesOfLastCall();

    std::shared_ptr<InMemoryCloudServer> host;
    QString ownerName;
    std::unique_ptr<QTemporaryDir> assetFolder;
    QStringList filesOfLastCall;
    std::atomic<quint64> cancelGeneration{0};
};

} // namespace snipjar::cloud
