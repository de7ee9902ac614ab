#pragma once

#include "sync/cloud/CloudDatabase.h"
#include "sync/cloud/service/ServiceAccount.h"
#include "sync/cloud/service/ServiceHttp.h"

#include <memory>

namespace snipjar::cloud {

class FetchedAssetFolder;

// An account's records on a snipjar-server sync service (docs/sync-service.md), over HTTPS, with
// push over a WebSocket. Calls block the calling thread in a local event loop. Assets are uploaded
// before the save that names them and downloaded into a private folder that the page's
// assetFiles handle removes; those of server records carried by conflicts stay until the next
// modify call or the destruction of this instance.
class ServiceCloudDatabase : public CloudDatabase {
public:
    explicit ServiceCloudDatabase(ServiceAccount account);
    ~ServiceCloudDatabase() override;

    CloudStatus saveZone(const RecordZoneID& zone) override;
    CloudResult<ModifyOutcome> modifyRecords(const QList<CloudRecord>& saves,
                                             const QList<RecordID>& deletions) override;
    CloudResult<ChangePage> fetchChanges(const RecordZoneID& zone,
                                         const std::optional<ChangeToken>& since) override;
    std::unique_ptr<PushSubscription> subscribe(std::function<void()> onNotice) override;
    void cancel() override { http.cancel(); }
    // The server's address, the account id and the database's epoch.
    QString accountIdentity() const override;

private:
    std::optional<CloudRecord> readRecord(const RecordZoneID& zone, const QJsonObject& json,
                                          std::shared_ptr<FetchedAssetFolder>& folder,
                                          std::optional<CloudError>& failure);

    ServiceAccount account;
    ServiceHttp http;
    std::shared_ptr<FetchedAssetFolder> conflictAssets;
};

// The answer of a sign-in: what the computer keeps (ServiceAccount without the address), and the
// fingerprint of the certificate the server showed, for the user to compare on first contact.
struct ServiceSignIn {
    QString token;
    QString accountId;
    QString epoch;
    QByteArray fingerprint;
};

// Signs a computer in with the user's password (never kept) and gives it its device token. With a
// pinned fingerprint a self-signed server showing that certificate is trusted; without one, a
// certificate the system does not trust fails with permissionFailure and *fingerprintSeen says
// what the server showed.
CloudResult<ServiceSignIn> signInToService(const QUrl& server, const QString& user, const QString& password,
                                           const QString& deviceName,
                                           const QByteArray& pinnedFingerprint = {},
                                           QByteArray* fingerprintSeen = nullptr);

} // namespace snipjar::cloud
