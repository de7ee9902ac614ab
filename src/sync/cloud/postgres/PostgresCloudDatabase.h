#pragma once

#include "sync/cloud/CloudDatabase.h"
#include "sync/cloud/postgres/PostgresAccount.h"

#include <atomic>
#include <pqxx/connection>

#include <functional>
#include <memory>
#include <mutex>

namespace snipjar::cloud {

class FetchedAssetFolder;

// A user's private records on a PostgreSQL sync server (schema in migrations/). Connects on the
// first call and again on the call after a connection broke; each call is one transaction, so a
// failure in the middle applies nothing. Fetched assets are written to a private folder of the
// application's cache that the page's assetFiles handle removes; the assets of server records
// carried by conflicts stay until the next modify call or the destruction of this instance. A save
// whose asset field names no file keeps the bytes the server holds for that field.
class PostgresCloudDatabase : public CloudDatabase {
public:
    explicit PostgresCloudDatabase(PostgresAccount account);
    ~PostgresCloudDatabase() override;

    CloudStatus saveZone(const RecordZoneID& zone) override;
    CloudResult<ModifyOutcome> modifyRecords(const QList<CloudRecord>& saves,
                                             const QList<RecordID>& deletions) override;
    CloudResult<ChangePage> fetchChanges(const RecordZoneID& zone,
                                         const std::optional<ChangeToken>& since) override;
    std::unique_ptr<PushSubscription> subscribe(std::function<void()> onNotice) override;
    void cancel() override;
    // The user, host, port and database the connection URI names (never the password).
    QString accountIdentity() const override;

    // Longest a statement may run before the call fails as a network failure.
    static constexpr int statementTimeoutSeconds = 120;

private:
    template <typename T>
    CloudResult<T> run(const char* operation, const std::function<CloudResult<T>(pqxx::connection&)>& body);
    pqxx::connection& connection();
    void dropConnection();
    void throwIfCancelled() const;

    PostgresAccount account;
    std::string connectionString;
    std::mutex connectionMutex; // guards the pointer against cancel() from another thread
    std::unique_ptr<pqxx::connection> live;
    std::shared_ptr<FetchedAssetFolder> conflictAssets;
    std::atomic<bool> inCall = false;
    std::atomic<bool> cancelled = false;
};

} // namespace snipjar::cloud
