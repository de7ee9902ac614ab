// The engine against a real PostgreSQL sync server: two computers of one user, batches and pages,
// and a server that goes away in the middle and comes back. (That another user sees nothing is the
// conformance suite's, tests/sync_cloud.)
#include "EventLoopWait.h"
#include "PostgresCluster.h"
#include "TestDelegate.h"
#include "TestEnvironment.h"

#include "sync/cloud/postgres/PostgresCloudDatabase.h"

#include <gtest/gtest.h>

namespace snipjar::test {
namespace {

using sync::PendingDatabaseChange;
using sync::PendingRecordZoneChange;
using sync::SyncEngine;
using Type = sync::SyncEvent::Type;

class SyncEnginePostgresTest : public ::testing::Test {
protected:
    std::unique_ptr<SyncEngine> engineFor(TestDelegate& delegate, const QString& role) {
        auto database = std::make_shared<cloud::PostgresCloudDatabase>(
            cloud::PostgresAccount{cluster.socketURI(role), QStringLiteral("pw-") + role});
        auto engine = std::make_unique<SyncEngine>(
            sync::SyncEngineConfiguration{database, std::nullopt, &delegate, {}});
        engine->state().add(QList<PendingDatabaseChange>{{TestDelegate::zone}});
        return engine;
    }

    static QList<int> sizesOf(const QList<sync::SyncEvent>& events, bool saved) {
        QList<int> sizes;
        for (const auto& event : events) {
            sizes.append(static_cast<int>(saved ? event.savedRecords.size() : event.modifications.size()));
        }
        return sizes;
    }

    // After a restart each connection may meet its broken socket once; the call after reconnects.
    template <typename Operation>
    static std::optional<cloud::CloudError> afterReconnect(Operation operation) {
        std::optional<cloud::CloudError> error = operation();
        if (error && error->isTransient()) {
            error = operation();
        }
        return error;
    }

    TestEnvironment environment;
    PostgresCluster cluster;
};

TEST_F(SyncEnginePostgresTest, TwoComputersSyncThroughTheServerAndARestartLosesNothing) {
    ASSERT_TRUE(cluster.isReady()) << cluster.error().toStdString();
    ASSERT_TRUE(cluster.addUser(QStringLiteral("alice"), QStringLiteral("pw-alice")));
    TestDelegate laptop;
    TestDelegate desktop;
    auto laptopEngine = engineFor(laptop, QStringLiteral("alice"));
    auto desktopEngine = engineFor(desktop, QStringLiteral("alice"));
    QList<PendingRecordZoneChange> changes;
    for (int i = 0; i < 300; ++i) {
        const QString name = QStringLiteral("clip-%1").arg(i);
        laptop.setText(name, QStringLiteral("text %1").arg(i));
        changes.append(PendingRecordZoneChange::save(TestDelegate::idOf(name)));
    }
    laptopEngine->state().add(changes);
    ASSERT_EQ(sendAndWait(*laptopEngine), std::nullopt);
    EXPECT_EQ(sizesOf(laptop.eventsOf(Type::sentRecordZoneChanges), true), (QList<int>{250, 50}));
    ASSERT_EQ(fetchAndWait(*laptopEngine), std::nullopt);
    ASSERT_EQ(fetchAndWait(*desktopEngine), std::nullopt);
    EXPECT_EQ(sizesOf(desktop.eventsOf(Type::fetchedRecordZoneChanges), false), (QList<int>{200, 100}));
    EXPECT_EQ(desktop.received.size(), 300);
    // The desktop deletes one clip; the laptop edits another while the server is down.
    desktopEngine->state().add(
        {PendingRecordZoneChange::remove(TestDelegate::idOf(QStringLiteral("clip-0")))});
    ASSERT_EQ(sendAndWait(*desktopEngine), std::nullopt);
    laptop.setText(QStringLiteral("clip-1"), QStringLiteral("edited on the laptop"));
    laptopEngine->state().add({PendingRecordZoneChange::save(TestDelegate::idOf(QStringLiteral("clip-1")))});
    ASSERT_TRUE(cluster.stop()) << cluster.error().toStdString();
    const auto failure = sendAndWait(*laptopEngine);
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(failure->isTransient()) << cloud::cloudErrorCodeName(failure->code).toStdString();
    EXPECT_EQ(laptopEngine->state().pendingRecordZoneChanges().size(), 1);
    ASSERT_TRUE(cluster.start()) << cluster.error().toStdString();
    const auto error = afterReconnect([&] { return sendAndWait(*laptopEngine); });
    ASSERT_EQ(error, std::nullopt) << cloud::cloudErrorCodeName(error->code).toStdString();
    EXPECT_TRUE(laptopEngine->state().pendingRecordZoneChanges().isEmpty());
    laptop.events.clear();
    ASSERT_EQ(fetchAndWait(*laptopEngine), std::nullopt);
    QStringList deleted;
    for (const auto& page : laptop.eventsOf(Type::fetchedRecordZoneChanges)) {
        for (const auto& deletion : page.deletions) {
            deleted.append(deletion.id.recordName);
        }
    }
    EXPECT_EQ(deleted, QStringList{QStringLiteral("clip-0")});
    desktop.events.clear();
    ASSERT_EQ(afterReconnect([&] { return fetchAndWait(*desktopEngine); }), std::nullopt);
    EXPECT_EQ(desktop.received.value(QStringLiteral("clip-1")).string(QStringLiteral("text")),
              QStringLiteral("edited on the laptop"));
    EXPECT_EQ(desktop.received.size(), 299);
}

} // namespace
} // namespace snipjar::test
