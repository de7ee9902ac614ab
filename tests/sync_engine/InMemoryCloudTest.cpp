// What the conformance suite (tests/sync_cloud) cannot ask of every cloud database: the in-memory
// server's fetched asset files, its clock, and notices when it comes back.
#include "ClipStoreTestSupport.h"

#include "sync/cloud/InMemoryCloudDatabase.h"
#include "sync/cloud/InMemoryCloudServer.h"

#include <atomic>
#include <thread>

namespace snipjar::test {
namespace {

using namespace cloud;

const RecordZoneID zone{QStringLiteral("clips")};

CloudRecord recordNamed(const QString& name) {
    return CloudRecord(QStringLiteral("ClipItem"), {name, zone});
}

TEST(InMemoryCloudTest, FetchedAssetsArePrivateFilesUntilTheNextCallAndPrunedTokensExpire) {
    TestEnvironment environment;
    auto server = InMemoryCloudServer::create();
    auto client = server->connect(QStringLiteral("alice"));
    ASSERT_TRUE(client->saveZone(zone).ok());
    const QString upload = environment.path(QStringLiteral("image.png"));
    ASSERT_TRUE(PrivateFiles::writeFile(upload, "\x89PNG bytes", PrivateFiles::Durability::Buffered));
    CloudRecord item = recordNamed(QStringLiteral("clip-1"));
    item.setValue(QStringLiteral("image"), Asset{upload});
    ASSERT_EQ(client->modifyRecords({item}, {}).value().saved.size(), 1);
    auto all = client->fetchChanges(zone, std::nullopt);
    ASSERT_TRUE(all.ok());
    const auto fetched = all.value().modifications.value(0).asset(QStringLiteral("image"));
    ASSERT_TRUE(fetched.has_value());
    QFile copy(fetched->filePath);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), QByteArray("\x89PNG bytes"));
    EXPECT_EQ(modeOf(fetched->filePath), 0600u);
    EXPECT_EQ(modeOf(QFileInfo(fetched->filePath).absolutePath()), 0700u);
    ASSERT_TRUE(client->modifyRecords({}, {item.recordID()}).ok());
    EXPECT_FALSE(QFile::exists(fetched->filePath));
    // Once the tombstones are pruned by the server's clock, the old token has expired.
    server->setClock([] { return QDateTime::currentDateTimeUtc().addDays(31); });
    server->prune();
    auto expired = client->fetchChanges(zone, all.value().nextToken);
    ASSERT_FALSE(expired.ok());
    EXPECT_EQ(expired.error().code, CloudErrorCode::changeTokenExpired);
}

TEST(InMemoryCloudTest, NoticesFollowChangesOfTheOwnerAndStopWithTheSubscription) {
    auto server = InMemoryCloudServer::create();
    auto alice = server->connect(QStringLiteral("alice"));
    auto bob = server->connect(QStringLiteral("bob"));
    ASSERT_TRUE(alice->saveZone(zone).ok());
    ASSERT_TRUE(bob->saveZone(zone).ok());
    std::atomic<int> notices{0};
    auto subscription = alice->subscribe([&] { ++notices; });
    ASSERT_TRUE(bob->modifyRecords({recordNamed(QStringLiteral("b"))}, {}).ok());
    EXPECT_EQ(notices.load(), 0);
    std::thread writer(
        [&] { ASSERT_TRUE(alice->modifyRecords({recordNamed(QStringLiteral("a"))}, {}).ok()); });
    writer.join();
    EXPECT_EQ(notices.load(), 1);
    // The channel coming back may have missed changes: a notice too.
    server->setDown(true);
    EXPECT_FALSE(alice->fetchChanges(zone, std::nullopt).ok());
    server->setDown(false);
    EXPECT_EQ(notices.load(), 2);
    subscription.reset();
    ASSERT_TRUE(alice->modifyRecords({recordNamed(QStringLiteral("c"))}, {}).ok());
    EXPECT_EQ(notices.load(), 2);
}

} // namespace
} // namespace snipjar::test
