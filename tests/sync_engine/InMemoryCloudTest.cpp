#include "EventLoopWait.h"
#include "TestEnvironment.h"

#include "sync/cloud/InMemoryCloudDatabase.h"
#include "sync/cloud/InMemoryCloudServer.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <sys/stat.h>
#include <thread>

namespace snipjar::test {
namespace {

using namespace cloud;

const RecordZoneID zone{QStringLiteral("clips")};

CloudRecord recordNamed(const QString& name) {
    return CloudRecord(QStringLiteral("ClipItem"), {name, zone});
}

int modeOf(const QString& path) {
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return static_cast<int>(info.st_mode & 0777);
}

TEST(InMemoryCloudTest, CascadedDeletionsAreChangesOfTheirOwnAndAssetsComeBackAsPrivateFiles) {
    TestEnvironment environment;
    auto server = InMemoryCloudServer::create();
    auto client = server->connect(QStringLiteral("alice"));
    ASSERT_TRUE(client->saveZone(zone).ok());

    QTemporaryDir source;
    const QString upload = source.filePath(QStringLiteral("image.png"));
    QFile file(upload);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\x89PNG bytes");
    file.close();

    CloudRecord item = recordNamed(QStringLiteral("clip-1"));
    CloudRecord payload = recordNamed(QStringLiteral("pay-1"));
    payload.setValue(QStringLiteral("item"),
                     RecordReference{item.recordID(), RecordReference::Action::deleteSelf});
    payload.setValue(QStringLiteral("image"), Asset{upload});
    CloudRecord thumbnail = recordNamed(QStringLiteral("thumb-1"));
    thumbnail.setValue(QStringLiteral("payload"),
                       RecordReference{payload.recordID(), RecordReference::Action::deleteSelf});
    ASSERT_EQ(client->modifyRecords({item, payload, thumbnail}, {}).value().saved.size(), 3);

    auto all = client->fetchChanges(zone, std::nullopt);
    ASSERT_TRUE(all.ok());
    ASSERT_EQ(all.value().modifications.size(), 3);
    const auto fetched = all.value().modifications[1].asset(QStringLiteral("image"));
    ASSERT_TRUE(fetched.has_value());
    QFile copy(fetched->filePath);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), QByteArray("\x89PNG bytes"));
    EXPECT_EQ(modeOf(fetched->filePath), 0600);
    EXPECT_EQ(modeOf(QFileInfo(fetched->filePath).absolutePath()), 0700);

    // The item's deletion takes the payload and, through it, the thumbnail: three changes.
    const ChangeToken before = all.value().nextToken;
    auto outcome = client->modifyRecords({}, {item.recordID()});
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(outcome.value().deleted, QList{item.recordID()});
    EXPECT_EQ(server->changeCounter(QStringLiteral("alice")), before.value + 3);
    auto changes = client->fetchChanges(zone, before);
    ASSERT_TRUE(changes.ok());
    EXPECT_EQ(changes.value().deletions.size(), 3);
    EXPECT_TRUE(server->liveRecords(QStringLiteral("alice"), zone).isEmpty());
    // The fetched asset file goes with the next call.
    EXPECT_FALSE(QFile::exists(fetched->filePath));

    // A save with the old tag of a deleted record: unknown; deleting it again: unknown too.
    CloudRecord stale = all.value().modifications[0];
    auto again = client->modifyRecords({stale}, {stale.recordID()});
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.value().failedSaves.value(0).second.code, CloudErrorCode::unknownItem);
    EXPECT_EQ(again.value().failedDeletes.value(0).second.code, CloudErrorCode::unknownItem);

    // Once the tombstones are pruned, the old token has expired.
    server->setClock([] { return QDateTime::currentDateTimeUtc().addDays(31); });
    server->prune();
    auto expired = client->fetchChanges(zone, before);
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
    // Bob's fetch sees his record only.
    auto page = bob->fetchChanges(zone, std::nullopt);
    ASSERT_TRUE(page.ok());
    ASSERT_EQ(page.value().modifications.size(), 1);
    EXPECT_EQ(page.value().modifications[0].recordName(), QStringLiteral("b"));
}

} // namespace
} // namespace snipjar::test
