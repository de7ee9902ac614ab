#pragma once

#include "sync/cloud/CloudDatabase.h"
#include "sync/cloud/postgres/PostgresAccount.h"

#include <atomic>
#include <pqxx/connection>

#include <functional>
#include <memory>
#include <mutex>

namespace snipjar::cloud {

// A user's private records on a PostgreSQL sync server (schema in migrations/). Connects on the
// first call and again on the call after a connection broke; each call is one transaction, so a
// failure in the middle applies nothing. Fetched assets are written to a private temporary
// folder that the page's assetFiles handle removes.
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
    std::atomic<bool> inCall = false;
    std::atomic<bool> cancelled = false;
};

} // namespace snipjar::cloud
