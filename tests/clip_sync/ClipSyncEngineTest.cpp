#include "RandomHistory.h"
#include "SimulatedComputer.h"

#include "EventLoopWait.h"
#include "SyncLog.h"
#include "TestEnvironment.h"
#include "store/ModelContainer.h"
#include "store/ModelContext.h"
#include "store/StoreConnection.h"
#include "sync/RecordNames.h"
#include "sync/cloud/InMemoryCloudDatabase.h"
#include "sync/cloud/InMemoryCloudServer.h"

#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>

namespace snipjar::test {
namespace {

using sync::PendingRecordZoneChange;
using sync::RecordNames;

// The change notices of a connection, sent by the test itself; counts the fetches made.
struct NoticeChannel {
    std::function<void()> send;
    std::atomic<int> fetches = 0;
};

// A connection that hears of no changes but those the test sends, so that a computer fetches only
// when asked.
class DeafDatabase : public cloud::CloudDatabase {
public:
    DeafDatabase(std::unique_ptr<cloud::CloudDatabase> inner, std::shared_ptr<NoticeChannel> channel)
        : inner(std::move(inner))
        , channel(std::move(channel)) {}
    cloud::CloudStatus saveZone(const cloud::RecordZoneID& zone) override { return inner->saveZone(zone); }
    cloud::CloudResult<cloud::ModifyOutcome> modifyRecords(const QList<cloud::CloudRecord>& saves,
                                                           const QList<cloud::RecordID>& deletions) override {
        return inner->modifyRecords(saves, deletions);
    }
    cloud::CloudResult<cloud::ChangePage>
    fetchChanges(const cloud::RecordZoneID& zone, const std::optional<cloud::ChangeToken>& since) override {
        ++channel->fetches;
        return inner->fetchChanges(zone, since);
    }
    std::unique_ptr<cloud::PushSubscription> subscribe(std::function<void()> onNotice) override {
        channel->send = std::move(onNotice);
        return nullptr;
    }
    void cancel() override { inner->cancel(); }

private:
    std::unique_ptr<cloud::CloudDatabase> inner;
    std::shared_ptr<NoticeChannel> channel;
};

class ClipSyncEngineTest : public ::testing::Test {
protected:
    // With a channel, the computer hears only the notices the test sends; with a former identifier,
    // its store is on disk, where the computer's earlier self left it.
    std::unique_ptr<SimulatedComputer>
    computer(const QString& name, std::shared_ptr<NoticeChannel> channel = {}, const QString& former = {},
             ClipStore::Location location = ClipStore::Location::inMemory) {
        auto* host = server.get();
        return std::make_unique<SimulatedComputer>(
            name, folder.filePath(name + QStringLiteral(".json")),
            [host, channel] {
                std::unique_ptr<cloud::CloudDatabase> connection = host->connect(QStringLiteral("alice"));
                if (channel) {
                    connection = std::make_unique<DeafDatabase>(std::move(connection), channel);
                }
                return std::shared_ptr<cloud::CloudDatabase>(std::move(connection));
            },
            former, location);
    }

    std::optional<cloud::InMemoryCloudServer::StoredRecord> onServer(const cloud::RecordID& id) const {
        auto record = server->record(QStringLiteral("alice"), id);
        if (record && record->deleted) {
            return std::nullopt;
        }
        return record;
    }

    static QList<PendingRecordZoneChange> pending(SimulatedComputer& computer) {
        return computer.engine().engine().state().pendingRecordZoneChanges();
    }

    static bool drained(SimulatedComputer& computer) {
        return waitUntil([&computer] { return !computer.hasPendingChanges(); });
    }

    TestEnvironment environment;
    QTemporaryDir folder;
    std::shared_ptr<cloud::InMemoryCloudServer> server = cloud::InMemoryCloudServer::create();
};

TEST_F(ClipSyncEngineTest, LocalChangesQueueTheirRecordsBurstsGoOnceStreamsWhileTheyLastAndNoticesOnce) {
    SyncLog log;
    const auto channel = std::make_shared<NoticeChannel>();
    auto here = computer(QStringLiteral("here"), channel);
    ASSERT_TRUE(here->start());
    const int modifiesBefore = server->modifyCallCount();
    for (int i = 0; i < 10; ++i) {
        here->copy(QStringLiteral("burst %1").arg(i));
    }
    ASSERT_TRUE(drained(*here));
    EXPECT_EQ(server->modifyCallCount() - modifiesBefore, 1);
    // A key held down: copies keep coming faster than the debounce, and are sent while they do.
    const int modifiesBeforeStream = server->modifyCallCount();
    for (int i = 0; i < 60; ++i) {
        here->copy(QStringLiteral("held %1").arg(i));
        settle(std::chrono::milliseconds(30));
    }
    EXPECT_GE(server->modifyCallCount() - modifiesBeforeStream, 1);
    ASSERT_TRUE(drained(*here));
    // A new clip with a payload queues both records; an edit only the clip; a deletion only the
    // clip's deletion (its payload goes with it on the server).
    here->copy(QString(6000, QLatin1Char('x')));
    const QUuid big = here->clipIDs().first();
    EXPECT_EQ(pending(*here), (QList{PendingRecordZoneChange::save(RecordNames::itemRecordID(big)),
                                     PendingRecordZoneChange::save(RecordNames::payloadRecordID(big))}));
    ASSERT_TRUE(drained(*here));
    ASSERT_TRUE(onServer(RecordNames::payloadRecordID(big)));
    here->store().togglePin(big);
    EXPECT_EQ(pending(*here), QList{PendingRecordZoneChange::save(RecordNames::itemRecordID(big))});
    ASSERT_TRUE(drained(*here));
    here->store().remove(big);
    EXPECT_EQ(pending(*here), QList{PendingRecordZoneChange::remove(RecordNames::itemRecordID(big))});
    ASSERT_TRUE(drained(*here));
    EXPECT_FALSE(onServer(RecordNames::itemRecordID(big)));
    EXPECT_FALSE(onServer(RecordNames::payloadRecordID(big)));
    // Thousands of notices while a fetch is under way: that fetch may have missed the later
    // changes, so one more, and no more, brings them, with one line in the log.
    server->closeGate();
    channel->send();
    ASSERT_TRUE(waitUntil([this] { return server->callsAtGate() == 1; }));
    const int fetchesBefore = channel->fetches;
    for (int i = 0; i < 4999; ++i) {
        channel->send();
    }
    ASSERT_TRUE(waitUntil([&log] { return log.count(QStringLiteral("push received")) >= 2; }));
    server->openGate();
    ASSERT_TRUE(waitUntil([&here] { return !here->engine().isSyncing(); }));
    settle(std::chrono::milliseconds(50));
    EXPECT_EQ(channel->fetches - fetchesBefore, 1);
    EXPECT_EQ(log.count(QStringLiteral("push received")), 2);
}

TEST_F(ClipSyncEngineTest, RefusedSavesAreResolved) {
    auto here = computer(QStringLiteral("here"), std::make_shared<NoticeChannel>());
    auto there = computer(QStringLiteral("there"));
    ASSERT_TRUE(here->start());
    ASSERT_TRUE(there->start());
    here->copy(QStringLiteral("shared"));
    ASSERT_TRUE(drained(*here));
    ASSERT_TRUE(there->syncNow());
    const QUuid id = here->clipIDs().first();
    // A clip changed on both: the server's version wins here, and nothing of it stays queued.
    there->store().togglePin(id);
    ASSERT_TRUE(drained(*there));
    here->copy(QStringLiteral("shared")); // moves it to the top here
    ASSERT_TRUE(drained(*here));
    EXPECT_TRUE(here->store().syncItem(id)->pinned);
    EXPECT_EQ(here->store().syncItem(id)->createdAt, there->store().syncItem(id)->createdAt);
    // A clip the server no longer has is created afresh.
    there->store().remove(id);
    ASSERT_TRUE(drained(*there));
    here->store().togglePin(id);
    ASSERT_TRUE(drained(*here));
    EXPECT_TRUE(onServer(RecordNames::itemRecordID(id)));
    // This computer's record, saved without the server's change tag, is sent again on top of it.
    {
        auto device = here->store().syncDevice(QStringLiteral("here"));
        device->cloudRecordSystemFields.reset();
        here->store().syncContext().update(*device);
        ASSERT_TRUE(here->store().syncContext().save());
    }
    const qint64 changesBefore = server->changeCounter(QStringLiteral("alice"));
    ASSERT_TRUE(here->restart());
    ASSERT_TRUE(drained(*here));
    EXPECT_GT(server->changeCounter(QStringLiteral("alice")), changesBefore);
    EXPECT_TRUE(here->store().syncDevice(QStringLiteral("here"))->cloudRecordSystemFields.has_value());
}

// Changes the engine never heard of: clips copied before sync was on, changes made with no engine
// (as the command line makes them with the application closed), and changes heard by an engine
// whose state file was lost with the process. The store's outbox has them all.
TEST_F(ClipSyncEngineTest, ChangesTheEngineNeverHeardOfAreSentFromTheOutbox) {
    auto here = computer(QStringLiteral("here"));
    for (const char* text : {"removed, state lost", "pinned, state lost", "removed with no engine",
                             "pinned with no engine", "copied before sync was on"}) {
        here->copy(QString::fromLatin1(text));
    }
    const QList<QUuid> ids = here->clipIDs(); // newest first
    ASSERT_TRUE(here->start());
    ASSERT_TRUE(drained(*here));
    here->quit();
    here->store().remove(ids[2]);
    here->store().togglePin(ids[1]);
    const QString stateFile = folder.filePath(QStringLiteral("here.json"));
    ASSERT_TRUE(QFile::copy(stateFile, stateFile + QStringLiteral(".stale")));
    server->setDown(true);
    ASSERT_TRUE(here->start());
    here->store().remove(ids[4]);
    here->store().togglePin(ids[3]);
    here->quit();
    ASSERT_TRUE(QFile::remove(stateFile) && QFile::rename(stateFile + QStringLiteral(".stale"), stateFile));
    server->setDown(false);
    ASSERT_TRUE(here->start());
    ASSERT_TRUE(drained(*here));
    auto there = computer(QStringLiteral("there"));
    ASSERT_TRUE(there->start());
    const QList<QUuid> arrived = there->clipIDs();
    EXPECT_EQ(QSet<QUuid>(arrived.cbegin(), arrived.cend()), (QSet{ids[0], ids[1], ids[3]}));
    EXPECT_TRUE(there->store().syncItem(ids[1])->pinned && there->store().syncItem(ids[3])->pinned);
    // Confirmed changes leave the outbox.
    EXPECT_TRUE(here->store().syncContext().outbox().isEmpty());
}

// A page the store cannot save (a full disk) is not acknowledged: the fetch position stays and the
// page comes again once the store can take it.
TEST_F(ClipSyncEngineTest, AFetchedPageThatCannotBeSavedIsFetchedAgain) {
    auto here = computer(QStringLiteral("here"));
    auto there = computer(QStringLiteral("there"));
    ASSERT_TRUE(here->start());
    ASSERT_TRUE(there->start());
    const auto run = [&here](const char* sql) {
        auto connection = here->store().syncContainer().acquireConnection();
        const bool ok = connection->exec(sql);
        here->store().syncContainer().releaseConnection(std::move(connection));
        return ok;
    };
    ASSERT_TRUE(run("CREATE TRIGGER full BEFORE INSERT ON ClipItem "
                    "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END"));
    there->copy(QStringLiteral("arrives once there is room"));
    ASSERT_TRUE(drained(*there));
    ASSERT_TRUE(here->syncNow());
    EXPECT_TRUE(here->clipIDs().isEmpty());
    EXPECT_EQ(here->engine().problem(), QStringLiteral("Synced clips can\u2019t be saved on this computer"));
    ASSERT_TRUE(run("DROP TRIGGER full"));
    ASSERT_TRUE(here->syncNow());
    EXPECT_EQ(here->clipIDs(), there->clipIDs());
    EXPECT_FALSE(here->engine().problem().has_value());
}

TEST_F(ClipSyncEngineTest, TroubleIsReportedOnceKeepsEveryChangeAndEndsByItselfALimitIsNotRetried) {
    SyncLog log;
    auto here = computer(QStringLiteral("here"));
    QList<bool> syncing;
    here->engine().onSyncingChanged = [&syncing](bool value) { syncing.append(value); };
    ASSERT_TRUE(here->start());
    ASSERT_TRUE(waitUntil([&here] { return !here->engine().isSyncing(); }));
    // Told of every change of the flag, and only of changes.
    ASSERT_GE(syncing.size(), 2);
    for (qsizetype i = 0; i < syncing.size(); ++i) {
        EXPECT_EQ(syncing[i], i % 2 == 0);
    }
    QList<std::optional<QString>> problems;
    here->engine().onProblemChanged = [&problems](const std::optional<QString>& text) {
        problems.append(text);
    };
    server->setDown(true);
    here->copy(QStringLiteral("while the server is down"));
    const QUuid id = here->clipIDs().first();
    ASSERT_TRUE(waitUntil([&problems] { return !problems.isEmpty(); }));
    ASSERT_TRUE(here->syncNow());
    ASSERT_TRUE(here->syncNow());
    EXPECT_EQ(problems, QList<std::optional<QString>>{QStringLiteral("Can\u2019t reach your sync server")});
    EXPECT_EQ(log.count(QStringLiteral("sync problem")), 1);
    EXPECT_EQ(pending(*here), QList{PendingRecordZoneChange::save(RecordNames::itemRecordID(id))});
    // The server's notice that it is back is enough.
    server->setDown(false);
    ASSERT_TRUE(drained(*here));
    EXPECT_TRUE(onServer(RecordNames::itemRecordID(id)));
    ASSERT_TRUE(waitUntil([&problems] { return problems.size() == 2; }));
    EXPECT_FALSE(problems.last().has_value());
    // A limit the server holds to (the storage quota) is shown in its words, but not retried on a
    // timer: nothing here changes by waiting. The next sync asks again.
    server->failNextCalls(1, cloud::CloudErrorCode::limitExceeded);
    here->copy(QStringLiteral("over the quota"));
    ASSERT_TRUE(waitUntil([&problems] { return problems.size() == 3; }));
    EXPECT_TRUE(problems.last().value_or("").startsWith(QStringLiteral("Your sync server refused: ")));
    const int calls = server->callCount();
    EXPECT_FALSE(
        waitUntil([&] { return server->callCount() > calls; },
                  std::chrono::milliseconds(2 * sync::ClipSyncEngine::firstRetryMilliseconds + 500)));
    ASSERT_TRUE(here->syncNow());
    ASSERT_TRUE(waitUntil([&problems] { return problems.size() == 4; }));
    EXPECT_FALSE(problems.last().has_value());
}

// This computer once went by another identifier (the raw machine id, which must not stay on the
// server): its clips move to the new one, here (the local ones too) and on the server, also one
// changed elsewhere meanwhile, and the old Device record goes without taking any clip along.
TEST_F(ClipSyncEngineTest, ClipsOfAFormerIdentifierMoveToTheNewOneOnTheServer) {
    const QString before = QStringLiteral("3D1219C7-C4C5-404A-AA1F-6D2A48ADFDA4");
    const QString after = QStringLiteral("475A857B-5009-413F-8F6A-895A2E518921");
    auto there = computer(QStringLiteral("there"));
    ASSERT_TRUE(there->start());
    {
        auto old = computer(before, {}, {}, ClipStore::Location::onDisk);
        ASSERT_TRUE(old->start());
        old->copy(QStringLiteral("first"));
        old->copy(QStringLiteral("second"));
        Clip local;
        local.kind = ClipKind::text;
        local.plainText = QStringLiteral("local");
        old->store().insert(local, *old->store().localContainer().newContext());
        ASSERT_TRUE(drained(*old));
    }
    ASSERT_TRUE(there->syncNow());
    const QUuid pinned = there->clipIDs().first();
    there->store().togglePin(pinned);
    ASSERT_TRUE(drained(*there));
    auto here = computer(after, {}, before, ClipStore::Location::onDisk);
    ASSERT_TRUE(here->start());
    ASSERT_TRUE(drained(*here));
    ASSERT_TRUE(there->syncNow());
    EXPECT_FALSE(onServer(RecordNames::deviceRecordID(before)));
    EXPECT_TRUE(onServer(RecordNames::deviceRecordID(after)));
    ASSERT_EQ(there->clipIDs().size(), 2);
    for (const QUuid& id : there->clipIDs()) {
        EXPECT_EQ(there->store().syncItem(id)->deviceID, after);
    }
    EXPECT_TRUE(here->store().syncItem(pinned)->pinned);
    EXPECT_EQ(ClipStore::allItems(here->store().localContext()).value(0).deviceID, after);
    EXPECT_FALSE(here->store().syncDevice(before));
}

// Random histories synced in random interleavings while the server fails in random ways (calls
// that fail, answers lost, the server down) end the same once the server behaves.
TEST_F(ClipSyncEngineTest, RandomHistoriesOnTwoToFiveComputersEndTheSame) {
    // SNIPJAR_SEED=N runs that seed alone, with the engine's log.
    const unsigned only = qEnvironmentVariableIntValue("SNIPJAR_SEED");
    if (only == 0) {
        QLoggingCategory::setFilterRules(
            QStringLiteral("app.snipjar.Snipjar.sync*.info=false\napp.snipjar.Snipjar.sync*.warning=false"));
    }
    int failedRuns = 0;
    for (unsigned seed = only == 0 ? 1 : only; seed <= (only == 0 ? 200 : only) && failedRuns < 3; ++seed) {
        server = cloud::InMemoryCloudServer::create();
        RandomHistory history(seed, [host = server.get()] {
            return std::shared_ptr<cloud::CloudDatabase>(host->connect("alice"));
        });
        const auto fault = [&] {
            switch (history.pick(3)) {
            case 0:
                return server->failNextCalls(1 + history.pick(2), cloud::CloudErrorCode::networkFailure);
            case 1:
                return server->loseNextModifyAnswers(1);
            default:
                return server->setDown(!server->isDown());
            }
        };
        // A last step brings the server back, so that everyone can sync in the end.
        const auto special = [&](int step) -> std::optional<bool> {
            if (step == 24) {
                server->setDown(false);
                return true;
            }
            return std::nullopt;
        };
        const QStringList failures = history.run(25, special, fault);
        if (!failures.isEmpty()) {
            ++failedRuns;
            ADD_FAILURE() << "seed " << seed << ":\n" << failures.join(QLatin1Char('\n')).toStdString();
        }
    }
    QLoggingCategory::setFilterRules({});
}

} // namespace
} // namespace snipjar::test
