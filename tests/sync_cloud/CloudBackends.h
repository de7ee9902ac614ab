#pragma once

#include "PostgresCluster.h"
#include "ServiceServer.h"
#include "sync/cloud/CloudDatabase.h"
#include "sync/cloud/EncryptedCloudDatabase.h"
#include "sync/cloud/InMemoryCloudDatabase.h"
#include "sync/cloud/InMemoryCloudServer.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

namespace snipjar::test {

// A private PostgreSQL server and a snipjar-server over it, shared by the whole test run: started on
// first use, stopped when the run ends while the application still exists.
inline std::unique_ptr<PostgresCluster> sharedCluster;
inline std::unique_ptr<ServiceServer> sharedService;
class SharedServersEnvironment : public ::testing::Environment {
public:
    void TearDown() override {
        sharedService.reset();
        sharedCluster.reset();
    }
};
inline const auto* const sharedServersEnvironment =
    ::testing::AddGlobalTestEnvironment(new SharedServersEnvironment);

inline PostgresCluster& sharedPostgresCluster() {
    if (!sharedCluster) {
        sharedCluster = std::make_unique<PostgresCluster>();
        EXPECT_TRUE(sharedCluster->isReady())
            << "the private PostgreSQL server did not start: " << sharedCluster->error().toStdString();
    }
    return *sharedCluster;
}

inline ServiceServer& sharedServiceServer() {
    if (!sharedService) {
        sharedService = std::make_unique<ServiceServer>(sharedPostgresCluster());
        EXPECT_TRUE(sharedService->start()) << "snipjar-server did not start";
    }
    return *sharedService;
}

// One implementation of the cloud database as the conformance suite sees it: a server that users
// open their view of. The same name gives the same owner, another name another owner.
using CloudBackend = std::function<std::unique_ptr<cloud::CloudDatabase>(const QString& user)>;

// Accounts of the shared snipjar-server; users are accounts made for this backend. With a key, every
// user's records are sealed with it (one key for all: only the account binding tells them apart).
inline CloudBackend serviceBackend(std::optional<crypto::HistoryKey> key) {
    return [key, accounts = std::make_shared<QHash<QString, cloud::ServiceAccount>>()](
               const QString& user) -> std::unique_ptr<cloud::CloudDatabase> {
        ServiceServer& server = sharedServiceServer();
        const bool known = accounts->contains(user);
        if (!known) {
            accounts->insert(user, server.newAccount(user));
        }
        auto database = std::make_unique<cloud::ServiceCloudDatabase>(
            known ? server.signIn(server.userOf(accounts->value(user))) : accounts->value(user));
        if (!key) {
            return database;
        }
        return std::make_unique<cloud::EncryptedCloudDatabase>(std::move(database), *key);
    };
}

struct CloudBackendFactory {
    const char* name;
    std::function<CloudBackend()> make;

    friend void PrintTo(const CloudBackendFactory& factory, std::ostream* out) { *out << factory.name; }
};

// Every implementation the conformance suite runs against: the in-memory server (one per backend,
// its owners the users), the sync service, and the sync service with the history sealed.
inline std::vector<CloudBackendFactory> cloudBackendFactories() {
    return {{"InMemory",
             [] {
                 return CloudBackend([server = cloud::InMemoryCloudServer::create()](const QString& user) {
                     return server->connect(user);
                 });
             }},
            {"Service", [] { return serviceBackend(std::nullopt); }},
            {"EncryptedService", [] { return serviceBackend(crypto::HistoryKey::generate()); }}};
}

inline const cloud::RecordZoneID historyZone{QStringLiteral("SnipjarHistory")};

// A record of the history zone with a text field.
inline cloud::CloudRecord textRecord(const QString& name, const QString& text,
                                     const QString& type = "ClipItem") {
    cloud::CloudRecord record(type, cloud::RecordID{name, historyZone});
    record.setValue(QStringLiteral("text"), text);
    return record;
}

inline QSet<QString> namesOf(const QList<cloud::CloudRecord>& records) {
    QSet<QString> names;
    for (const auto& record : records) {
        names.insert(record.recordName());
    }
    return names;
}

inline QSet<QString> namesOf(const QList<cloud::RecordDeletion>& deletions) {
    QSet<QString> names;
    for (const auto& deletion : deletions) {
        names.insert(deletion.id.recordName);
    }
    return names;
}

inline QHash<QString, cloud::CloudRecord> byName(const QList<cloud::CloudRecord>& records) {
    QHash<QString, cloud::CloudRecord> named;
    for (const auto& record : records) {
        named.insert(record.recordName(), record);
    }
    return named;
}

// Saves the records, all of which must be taken; they come back with their change tags.
inline QList<cloud::CloudRecord> saveAll(cloud::CloudDatabase& database,
                                         const QList<cloud::CloudRecord>& records) {
    auto outcome = database.modifyRecords(records, {});
    if (!outcome) {
        ADD_FAILURE() << "the save failed: " << outcome.error().description.toStdString();
        return {};
    }
    EXPECT_TRUE(outcome.value().failedSaves.isEmpty())
        << outcome.value().failedSaves.value(0).second.description.toStdString();
    return outcome.value().saved;
}

// Writes the file (failing the test when it cannot) and gives its path back.
inline QString writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()) << path.toStdString();
    return path;
}

// The bytes of a record's asset file; empty when there is none.
inline QByteArray assetBytes(const cloud::CloudRecord& record, const QString& field) {
    QFile file(record.asset(field).value_or(cloud::Asset{}).filePath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// All changes after the token, following pages until none is left.
struct AllChanges {
    QList<cloud::CloudRecord> modifications;
    QList<cloud::RecordDeletion> deletions;
    cloud::ChangeToken token;
    int pages = 0;
    // The pages' asset files, kept while this exists.
    QList<std::shared_ptr<const void>> assetFiles;
};

// A failed fetch fails the test, and gives what came before it.
inline AllChanges fetchAll(cloud::CloudDatabase& database, const std::optional<cloud::ChangeToken>& since) {
    AllChanges all;
    std::optional<cloud::ChangeToken> token = since;
    for (;;) {
        auto page = database.fetchChanges(historyZone, token);
        if (!page) {
            ADD_FAILURE() << "a fetch failed: " << page.error().description.toStdString();
            return all;
        }
        ++all.pages;
        EXPECT_LE(page.value().modifications.size() + page.value().deletions.size(),
                  cloud::CloudDatabase::pageLimit);
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
