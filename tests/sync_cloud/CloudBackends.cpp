#include "CloudBackends.h"

#include "PostgresCluster.h"
#include "ServiceServer.h"
#include "sync/cloud/EncryptedCloudDatabase.h"
#include "sync/cloud/InMemoryCloudDatabase.h"
#include "sync/cloud/InMemoryCloudServer.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QHash>

namespace snipjar::test {

using namespace snipjar::cloud;

namespace {

std::unique_ptr<PostgresCluster>& clusterSlot() {
    static std::unique_ptr<PostgresCluster> cluster;
    return cluster;
}

std::unique_ptr<ServiceServer>& serviceSlot() {
    static std::unique_ptr<ServiceServer> server;
    return server;
}

// Stops the shared server when the run ends, while the application still exists.
class ClusterEnvironment : public ::testing::Environment {
public:
    void TearDown() override {
        serviceSlot().reset();
        clusterSlot().reset();
    }
};

const auto* const clusterEnvironment = ::testing::AddGlobalTestEnvironment(new ClusterEnvironment);

// One in-process server per backend; users are its owners.
class InMemoryBackend : public CloudBackend {
public:
    std::unique_ptr<CloudDatabase> open(const QString& user) override { return server->connect(user); }

private:
    std::shared_ptr<InMemoryCloudServer> server = InMemoryCloudServer::create();
};

// Accounts of one snipjar-server; users are accounts made for this backend. With a key, every
// user's records are sealed with it (one key for all: only the account binding tells them apart).
class ServiceBackend : public CloudBackend {
public:
    explicit ServiceBackend(std::optional<crypto::HistoryKey> key = std::nullopt)
        : key(std::move(key)) {}

    std::unique_ptr<CloudDatabase> open(const QString& user) override {
        ServiceServer& server = sharedServiceServer();
        const bool known = accounts.contains(user);
        if (!known) {
            accounts.insert(user, server.newAccount(user));
        }
        auto database = std::make_unique<ServiceCloudDatabase>(
            known ? server.signIn(server.userOf(accounts.value(user))) : accounts.value(user));
        if (!key) {
            return database;
        }
        return std::make_unique<EncryptedCloudDatabase>(std::move(database), *key);
    }

private:
    std::optional<crypto::HistoryKey> key;
    QHash<QString, ServiceAccount> accounts;
};

} // namespace

ServiceServer& sharedServiceServer() {
    auto& server = serviceSlot();
    if (!server) {
        server = std::make_unique<ServiceServer>(sharedPostgresCluster());
        if (!server->start()) {
            ADD_FAILURE() << "snipjar-server did not start";
        }
    }
    return *server;
}

PostgresCluster& sharedPostgresCluster() {
    auto& cluster = clusterSlot();
    if (!cluster) {
        cluster = std::make_unique<PostgresCluster>();
        if (!cluster->isReady()) {
            ADD_FAILURE() << "the private PostgreSQL server did not start: "
                          << cluster->error().toStdString();
        }
    }
    return *cluster;
}

std::vector<CloudBackendFactory> cloudBackendFactories() {
    return {{"InMemory", [] { return std::unique_ptr<CloudBackend>(std::make_unique<InMemoryBackend>()); }},
            {"Service", [] { return std::unique_ptr<CloudBackend>(std::make_unique<ServiceBackend>()); }},
            {"EncryptedService", [] {
                 return std::unique_ptr<CloudBackend>(
                     std::make_unique<ServiceBackend>(crypto::HistoryKey::generate()));
             }}};
}

CloudRecord textRecord(const QString& name, const QString& text, const QString& type) {
    CloudRecord record(type, RecordID{name, historyZone});
    record.setValue(QStringLiteral("text"), text);
    return record;
}

QSet<QString> namesOf(const QList<CloudRecord>& records) {
    QSet<QString> names;
    for (const auto& record : records) {
        names.insert(record.recordName());
    }
    return names;
}

QHash<QString, CloudRecord> byName(const QList<CloudRecord>& records) {
    QHash<QString, CloudRecord> named;
    for (const auto& record : records) {
        named.insert(record.recordName(), record);
    }
    return named;
}

QString writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()) << path.toStdString();
    return path;
}

QByteArray assetBytes(const CloudRecord& record, const QString& field) {
    QFile file(record.asset(field).value_or(Asset{}).filePath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QSet<QString> namesOf(const QList<RecordDeletion>& deletions) {
    QSet<QString> names;
    for (const auto& deletion : deletions) {
        names.insert(deletion.id.recordName);
    }
    return names;
}

std::optional<AllChanges> fetchAll(CloudDatabase& database, const std::optional<ChangeToken>& since) {
    AllChanges all;
    std::optional<ChangeToken> token = since;
    for (;;) {
        auto page = database.fetchChanges(historyZone, token);
        if (!page) {
            return std::nullopt;
        }
        ++all.pages;
        EXPECT_LE(page.value().modifications.size() + page.value().deletions.size(),
                  CloudDatabase::pageLimit);
        all.modifications += page.value().modifications;
        all.deletions += page.value().deletions;
        all.assetFiles.append(page.value().assetFiles);
        token = page.value().nextToken;
        if (!page.value().moreComing) {
            break;
        }
    }
    all.token = *token;
    return all;
}

} // namespace snipjar::test
