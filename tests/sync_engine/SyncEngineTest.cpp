#include "sync/engine/SyncEngine.h"
#include "EventLoopWait.h"
#include "TestEnvironment.h"
#include "sync/cloud/InMemoryCloudDatabase.h"
#include "sync/cloud/InMemoryCloudServer.h"

#include <QHash>
#include <QThread>
#include <gtest/gtest.h>

namespace snipjar::test {
namespace {

using cloud::CloudErrorCode;
using sync::PendingDatabaseChange;
using sync::PendingRecordZoneChange;
using sync::SyncEngine;
using sync::SyncEvent;
using Type = sync::SyncEvent::Type;

const cloud::RecordZoneID zone{QStringLiteral("clips")};
cloud::RecordID idOf(const QString& name) {
    return {name, zone};
}

// A delegate with a small record store of its own: it builds records from it, keeps the change tags
// the server confirmed, applies fetched changes to it, and logs every event. With holdEvents set it
// answers no event until releaseOne() is called.
class TestDelegate : public sync::SyncEngineDelegate {
public:
    void handleEvent(const SyncEvent& event, std::function<void()> done) override {
        events.append(event);
        if (event.type == Type::sentRecordZoneChanges) {
            for (const auto& record : event.savedRecords) {
                if (auto found = local.find(record.recordName()); found != local.end()) {
                    found->setChangeTag(record.changeTag());
                }
            }
        }
        if (event.type == Type::fetchedRecordZoneChanges) {
            for (const auto& record : event.modifications) {
                received.insert(record.recordName(), record);
            }
            for (const auto& deletion : event.deletions) {
                received.remove(deletion.id.recordName);
            }
        }
        if (holdEvents) {
            held.append(std::move(done));
        } else {
            done();
        }
    }
    std::optional<sync::RecordZoneChangeBatch> nextRecordZoneChangeBatch(SyncEngine& engine) override {
        const auto pending = engine.state().pendingRecordZoneChanges();
        if (pending.isEmpty()) {
            return std::nullopt;
        }
        // The records are built on the engine's worker, never on the main thread: from a copy.
        return sync::RecordZoneChangeBatch{
            pending, [records = local, main = QThread::currentThread()](const cloud::RecordID& id) {
                EXPECT_NE(QThread::currentThread(), main);
                const auto found = records.constFind(id.recordName);
                return found == records.constEnd() ? std::nullopt : std::optional(*found);
            }};
    }

    // Puts a record with the text into the local store (its known change tag kept).
    void setText(const QString& name, const QString& text) {
        cloud::CloudRecord record =
            local.value(name, cloud::CloudRecord(QStringLiteral("ClipItem"), idOf(name)));
        record.setValue(QStringLiteral("text"), text);
        local.insert(name, record);
    }
    QList<SyncEvent> eventsOf(Type type) const {
        QList<SyncEvent> chosen;
        std::copy_if(events.begin(), events.end(), std::back_inserter(chosen),
                     [type](const SyncEvent& event) { return event.type == type; });
        return chosen;
    }
    // The types of the events but state updates, in order.
    QList<Type> eventTypes() const {
        QList<Type> types;
        for (const auto& event : events) {
            if (event.type != Type::stateUpdate) {
                types.append(event.type);
            }
        }
        return types;
    }
    std::optional<sync::StateSerialization> lastState() const {
        const auto updates = eventsOf(Type::stateUpdate);
        return updates.isEmpty() ? std::nullopt : std::optional(updates.last().stateSerialization);
    }
    // Answers the event held longest.
    void releaseOne() {
        if (!held.isEmpty()) {
            held.takeFirst()();
        }
    }

    bool holdEvents = false;
    QList<std::function<void()>> held;
    QList<SyncEvent> events;
    QHash<QString, cloud::CloudRecord> local;    // what this computer holds
    QHash<QString, cloud::CloudRecord> received; // what fetches delivered
};

// Runs one operation of the engine and waits for its completion.
std::optional<cloud::CloudError> runAndWait(SyncEngine& engine,
                                            void (SyncEngine::*operation)(SyncEngine::Completion)) {
    bool finished = false;
    std::optional<cloud::CloudError> error;
    (engine.*operation)([&](std::optional<cloud::CloudError> result) {
        finished = true;
        error = std::move(result);
    });
    EXPECT_TRUE(waitUntil([&] { return finished; }, std::chrono::seconds(60)));
    return error;
}
std::optional<cloud::CloudError> sendAndWait(SyncEngine& engine) {
    return runAndWait(engine, &SyncEngine::sendChanges);
}
std::optional<cloud::CloudError> fetchAndWait(SyncEngine& engine) {
    return runAndWait(engine, &SyncEngine::fetchChanges);
}

const QString alice = QStringLiteral("alice");

class SyncEngineTest : public ::testing::Test {
protected:
    std::unique_ptr<SyncEngine> makeEngine(TestDelegate& delegate,
                                           std::optional<sync::StateSerialization> state = std::nullopt) {
        auto engine = std::make_unique<SyncEngine>(
            sync::SyncEngineConfiguration{server->connect(alice), state, &delegate, {}});
        engine->state().add(QList<PendingDatabaseChange>{{zone}});
        return engine;
    }

    // Local records name0…name<count-1>, each queued for saving.
    static void queueTexts(SyncEngine& engine, TestDelegate& delegate, int count,
                           const QString& prefix = QStringLiteral("clip-")) {
        QList<PendingRecordZoneChange> changes;
        for (int i = 0; i < count; ++i) {
            const QString name = prefix + QString::number(i);
            delegate.setText(name, QStringLiteral("text %1").arg(i));
            changes.append(PendingRecordZoneChange::save(idOf(name)));
        }
        engine.state().add(changes);
    }

    static QStringList names(const QList<PendingRecordZoneChange>& changes) {
        QStringList list;
        for (const auto& change : changes) {
            list.append((change.kind == PendingRecordZoneChange::Kind::saveRecord
                             ? QStringLiteral("save ")
                             : QStringLiteral("delete ")) +
                        change.id.recordName);
        }
        return list;
    }

    // A change made by another computer of the same owner, straight on the server.
    void saveElsewhere(const QString& name, const QString& text) {
        cloud::CloudRecord record(QStringLiteral("ClipItem"), idOf(name));
        if (const auto stored = server->record(alice, record.recordID()); stored && !stored->deleted) {
            record.setChangeTag(stored->changeTag);
        }
        record.setValue(QStringLiteral("text"), text);
        const auto result = server->connect(alice)->modifyRecords({record}, {});
        EXPECT_TRUE(result.ok() && result.value().saved.size() == 1);
    }

    TestEnvironment environment;
    std::shared_ptr<cloud::InMemoryCloudServer> server = cloud::InMemoryCloudServer::create();
};

TEST_F(SyncEngineTest, QueueKeepsOrderAndASaveAndADeleteOfOneRecordReplaceEachOther) {
    TestDelegate delegate;
    auto engine = makeEngine(delegate);
    auto& state = engine->state();
    const auto a = idOf("a");
    const auto b = idOf("b");
    const auto c = idOf("c");
    state.add({PendingRecordZoneChange::save(a), PendingRecordZoneChange::save(b),
               PendingRecordZoneChange::remove(c)});
    state.add({PendingRecordZoneChange::save(a)}); // already queued: keeps its place
    state.add({PendingRecordZoneChange::remove(b)});
    EXPECT_EQ(names(state.pendingRecordZoneChanges()), (QStringList{"save a", "delete c", "delete b"}));
    state.remove({PendingRecordZoneChange::save(c)}); // not queued in that kind: nothing happens
    state.remove({PendingRecordZoneChange::remove(c)});
    EXPECT_EQ(names(state.pendingRecordZoneChanges()), (QStringList{"save a", "delete b"}));
    state.add(QList<PendingDatabaseChange>{{zone}}); // already queued: the restored state below has one
    // Every change reaches the delegate as a state update carrying the queue.
    ASSERT_TRUE(waitUntil([&] { return delegate.lastState().has_value(); }));
    delegate.events.clear();
    state.add({PendingRecordZoneChange::save(c)});
    ASSERT_TRUE(waitUntil([&] { return delegate.lastState().has_value(); }));
    TestDelegate other;
    SyncEngine restored(
        sync::SyncEngineConfiguration{server->connect(alice), delegate.lastState(), &other, {}});
    EXPECT_EQ(names(restored.state().pendingRecordZoneChanges()),
              (QStringList{"save a", "delete b", "save c"}));
    EXPECT_EQ(restored.state().pendingDatabaseChanges().size(), 1);
}

// Batches and pages in the order of their events; a first fetch is no refetch of everything, and an
// engine made anew on the state it left fetches only what changed since.
TEST_F(SyncEngineTest, SendsAndFetchesInOrderedEventsAndTheTokenIsKept) {
    TestDelegate delegate;
    auto engine = makeEngine(delegate);
    queueTexts(*engine, delegate, 600);
    EXPECT_EQ(sendAndWait(*engine), std::nullopt);
    EXPECT_EQ(delegate.eventTypes(),
              (QList<Type>{Type::willSendChanges, Type::sentDatabaseChanges, Type::sentRecordZoneChanges,
                           Type::sentRecordZoneChanges, Type::sentRecordZoneChanges, Type::didSendChanges}));
    EXPECT_TRUE(engine->state().pendingRecordZoneChanges().isEmpty());
    EXPECT_TRUE(engine->state().pendingDatabaseChanges().isEmpty());
    // Another computer of the same owner fetches them, page by page.
    TestDelegate second;
    auto secondEngine = makeEngine(second);
    EXPECT_EQ(fetchAndWait(*secondEngine), std::nullopt);
    EXPECT_EQ(
        second.eventTypes(),
        (QList<Type>{Type::willFetchChanges, Type::fetchedDatabaseChanges, Type::fetchedRecordZoneChanges,
                     Type::fetchedRecordZoneChanges, Type::fetchedRecordZoneChanges, Type::didFetchChanges}));
    EXPECT_EQ(second.received.size(), 600);
    ASSERT_TRUE(waitUntil([&] { return second.lastState() == secondEngine->stateSerialization(); }));
    saveElsewhere("elsewhere", "from another computer");
    TestDelegate resumed;
    EXPECT_EQ(fetchAndWait(*makeEngine(resumed, second.lastState())), std::nullopt);
    EXPECT_EQ(resumed.received.keys(), QStringList{"elsewhere"});
}

TEST_F(SyncEngineTest, EventsComeOneAtATimeAndAHeldAnswerHoldsTheEngine) {
    TestDelegate delegate;
    auto engine = makeEngine(delegate);
    queueTexts(*engine, delegate, 2);
    ASSERT_TRUE(waitUntil([&] { return delegate.lastState().has_value(); }));
    delegate.holdEvents = true;
    delegate.events.clear();
    const int callsBefore = server->callCount();
    std::optional<std::optional<cloud::CloudError>> sent;
    bool fetched = false;
    engine->sendChanges([&](auto error) { sent = error; });
    engine->fetchChanges([&](auto) { fetched = true; });
    ASSERT_TRUE(waitUntil([&] { return delegate.held.size() == 1; }));
    settle(std::chrono::milliseconds(200));
    EXPECT_EQ(delegate.held.size(), 1);
    EXPECT_EQ(delegate.eventTypes(), QList<Type>{Type::willSendChanges});
    EXPECT_EQ(server->callCount(), callsBefore);
    // Answering later lets it go on, one event at a time; the fetch waits for the send.
    while (!fetched) {
        ASSERT_TRUE(waitUntil([&] { return !delegate.held.isEmpty() || fetched; }));
        EXPECT_LE(delegate.held.size(), 1);
        auto done = delegate.held.value(0);
        delegate.releaseOne();
        if (done) {
            done(); // a second answer is ignored
        }
    }
    EXPECT_TRUE(sent && !*sent);
    const auto types = delegate.eventTypes();
    EXPECT_LT(types.indexOf(Type::didSendChanges), types.indexOf(Type::willFetchChanges));
    EXPECT_EQ(server->liveRecords(alice, zone).size(), 2);
}

// Network errors keep the queue for a later send; an answer lost after the server applied a batch
// does not apply it twice when the batch goes again.
TEST_F(SyncEngineTest, NetworkErrorsKeepTheQueueAndALostAnswerIsNotAppliedTwice) {
    TestDelegate delegate;
    auto engine = makeEngine(delegate);
    queueTexts(*engine, delegate, 3);
    server->failNextCalls(1, CloudErrorCode::networkFailure);
    EXPECT_EQ(sendAndWait(*engine).value_or(cloud::CloudError{}).code, CloudErrorCode::networkFailure);
    EXPECT_EQ(delegate.eventTypes().last(), Type::didSendChanges);
    EXPECT_EQ(engine->state().pendingDatabaseChanges().size(), 1);
    ASSERT_EQ(sendAndWait(*engine), std::nullopt);
    EXPECT_EQ(server->liveRecords(alice, zone).size(), 3);
    // A new record, an edit and a deletion go out together; the server applies them, the answer is lost.
    queueTexts(*engine, delegate, 1, "new-");
    delegate.setText("clip-1", "edited");
    engine->state().add(
        {PendingRecordZoneChange::save(idOf("clip-1")), PendingRecordZoneChange::remove(idOf("clip-2"))});
    delegate.local.remove("clip-2");
    server->loseNextModifyAnswers(1);
    delegate.events.clear();
    EXPECT_EQ(sendAndWait(*engine).value_or(cloud::CloudError{}).code, CloudErrorCode::networkFailure);
    const qint64 counterAfterLoss = server->changeCounter(alice);
    EXPECT_EQ(engine->state().pendingRecordZoneChanges().size(), 3);
    EXPECT_TRUE(delegate.eventsOf(Type::sentRecordZoneChanges).isEmpty());
    // The engine is even recreated from its state before the batch goes again.
    const auto state = delegate.lastState();
    engine.reset();
    engine = makeEngine(delegate, state);
    delegate.events.clear();
    EXPECT_EQ(sendAndWait(*engine), std::nullopt);
    const auto answers = delegate.eventsOf(Type::sentRecordZoneChanges);
    ASSERT_EQ(answers.size(), 1);
    EXPECT_EQ(answers[0].savedRecords.size(), 2);
    EXPECT_EQ(answers[0].deletedRecordIDs, QList{idOf("clip-2")});
    EXPECT_TRUE(engine->state().pendingRecordZoneChanges().isEmpty());
    EXPECT_EQ(server->changeCounter(alice), counterAfterLoss);
    const auto edited = server->record(alice, idOf("clip-1"));
    ASSERT_TRUE(edited.has_value());
    EXPECT_EQ(delegate.local.value("clip-1").changeTag(), edited->changeTag);
}

TEST_F(SyncEngineTest, CancellationByDestructionKeepsTheQueueAndAChangeQueuedInFlightStays) {
    TestDelegate delegate;
    auto engine = makeEngine(delegate);
    queueTexts(*engine, delegate, 2);
    server->closeGate();
    bool completed = false;
    engine->sendChanges([&](auto) { completed = true; });
    ASSERT_TRUE(waitUntil([&] { return server->callsAtGate() == 1; })); // the zone's save
    ASSERT_TRUE(waitUntil([&] { return delegate.lastState() == engine->stateSerialization(); }));
    const auto state = delegate.lastState();
    engine.reset();
    settle(std::chrono::milliseconds(50));
    EXPECT_FALSE(completed);
    server->openGate();
    EXPECT_EQ(server->liveRecords(alice, zone).size(), 0);
    engine = makeEngine(delegate, state);
    EXPECT_EQ(engine->state().pendingRecordZoneChanges().size(), 2);
    ASSERT_EQ(sendAndWait(*engine), std::nullopt);
    // A change queued again while its save is on its way is not taken for sent.
    delegate.setText("clip-0", "first edit");
    engine->state().add({PendingRecordZoneChange::save(idOf("clip-0"))});
    server->closeGate();
    completed = false;
    engine->sendChanges([&](auto) { completed = true; });
    ASSERT_TRUE(waitUntil([&] { return server->callsAtGate() == 1; }));
    delegate.setText("clip-0", "second edit");
    engine->state().add({PendingRecordZoneChange::save(idOf("clip-0"))});
    server->openGate();
    ASSERT_TRUE(waitUntil([&] { return completed; }));
    // Within the same send it goes again, now with the newer text.
    EXPECT_TRUE(engine->state().pendingRecordZoneChanges().isEmpty());
    ASSERT_EQ(fetchAndWait(*engine), std::nullopt);
    EXPECT_EQ(delegate.received.value("clip-0").string("text"), "second edit");
}

TEST_F(SyncEngineTest, ConflictsAndUnknownRecordsAreReportedPerRecord) {
    TestDelegate delegate;
    auto engine = makeEngine(delegate);
    queueTexts(*engine, delegate, 3);
    ASSERT_EQ(sendAndWait(*engine), std::nullopt);
    // Another computer edits clip-0 and deletes clip-1; this one edits both, adds one and deletes a
    // record the server never had.
    saveElsewhere("clip-0", "theirs");
    ASSERT_TRUE(server->connect(alice)->modifyRecords({}, {idOf("clip-1")}).ok());
    delegate.setText("clip-0", "mine");
    delegate.setText("clip-1", "mine too");
    queueTexts(*engine, delegate, 1, "fresh-");
    engine->state().add({PendingRecordZoneChange::save(idOf("clip-0")),
                         PendingRecordZoneChange::save(idOf("clip-1")),
                         PendingRecordZoneChange::remove(idOf("never")),
                         // Gone locally before its batch: the provider gives none and nothing is sent.
                         PendingRecordZoneChange::save(idOf("ghost"))});
    delegate.events.clear();
    ASSERT_EQ(sendAndWait(*engine), std::nullopt);
    const auto answers = delegate.eventsOf(Type::sentRecordZoneChanges);
    ASSERT_EQ(answers.size(), 1);
    const auto& answer = answers[0];
    ASSERT_EQ(answer.savedRecords.size(), 1);
    EXPECT_EQ(answer.savedRecords[0].recordName(), "fresh-0");
    // Their codes and the server's version are the cloud database's (its conformance test); that the
    // clip sync engine settles them with these, its refused-saves case.
    EXPECT_EQ(answer.failedRecordSaves.size(), 2);
    EXPECT_EQ(answer.failedRecordDeletes.size(), 1);
    EXPECT_FALSE(server->record(alice, idOf("ghost")).has_value());
    // The refused saves stay queued for the delegate to settle; the needless deletion is gone.
    EXPECT_EQ(names(engine->state().pendingRecordZoneChanges()), (QStringList{"save clip-0", "save clip-1"}));
}

// The fetch from the start names every live record at its end, also when a failed page or a
// restart of the computer came between its pages: what was deleted meanwhile is never kept for good.
// (An expired token met without interruption is the service convergence run's.)
TEST_F(SyncEngineTest, AnExpiredTokenFetchesEverythingAndNamesEveryLiveRecordDespiteAFailureOrARestart) {
    for (const bool failedPage : {true, false}) {
        SCOPED_TRACE(failedPage ? "failed page" : "restart");
        server = cloud::InMemoryCloudServer::create();
        TestDelegate delegate;
        auto engine = makeEngine(delegate);
        queueTexts(*engine, delegate, 250);
        ASSERT_EQ(sendAndWait(*engine), std::nullopt);
        ASSERT_EQ(fetchAndWait(*engine), std::nullopt);
        ASSERT_TRUE(server->connect(alice)->modifyRecords({}, {idOf("clip-7")}).ok());
        saveElsewhere("elsewhere", "new");
        server->setTombstoneRetention(std::chrono::seconds(0));
        server->prune();
        // Held at the first page from the start, of two.
        delegate.events.clear();
        delegate.holdEvents = true;
        std::optional<std::optional<cloud::CloudError>> ended;
        engine->fetchChanges([&](auto error) { ended = error; });
        for (int released = 0;; ++released) {
            ASSERT_TRUE(waitUntil([&] { return delegate.held.size() == 1; }));
            if (!delegate.eventsOf(Type::fetchedRecordZoneChanges).isEmpty()) {
                break;
            }
            ASSERT_LT(released, 3);
            delegate.releaseOne();
        }
        if (failedPage) {
            server->failNextCalls(1, CloudErrorCode::networkFailure);
            delegate.holdEvents = false;
            delegate.releaseOne();
            ASSERT_TRUE(waitUntil([&] { return ended.has_value(); }));
            EXPECT_EQ(ended->value_or(cloud::CloudError{}).code, CloudErrorCode::networkFailure);
        } else {
            ASSERT_TRUE(waitUntil([&] { return delegate.lastState() == engine->stateSerialization(); }));
            const auto state = delegate.lastState();
            engine.reset();
            delegate.held.clear();
            delegate.holdEvents = false;
            engine = makeEngine(delegate, state);
        }
        EXPECT_TRUE(delegate.eventsOf(Type::refetchedEverything).isEmpty());
        delegate.events.clear();
        delegate.received.clear();
        ASSERT_EQ(fetchAndWait(*engine), std::nullopt);
        EXPECT_EQ(delegate.received.size(), 250); // 249 of this computer and one from elsewhere
        EXPECT_FALSE(delegate.received.contains("clip-7"));
        const auto everything = delegate.eventsOf(Type::refetchedEverything);
        ASSERT_EQ(everything.size(), 1);
        EXPECT_EQ(everything[0].liveRecordIDs.size(), 250);
        EXPECT_FALSE(everything[0].liveRecordIDs.contains(idOf("clip-7")));
        EXPECT_TRUE(everything[0].liveRecordIDs.contains(idOf("elsewhere")));
        const auto types = delegate.eventTypes();
        EXPECT_EQ(types.indexOf(Type::refetchedEverything), types.size() - 2);
        EXPECT_EQ(delegate.eventsOf(Type::fetchedRecordZoneChanges).size(), 2);
        // The new token holds: the next fetch brings nothing, and names nothing again.
        delegate.events.clear();
        ASSERT_EQ(fetchAndWait(*engine), std::nullopt);
        EXPECT_EQ(delegate.eventTypes(), (QList<Type>{Type::willFetchChanges, Type::didFetchChanges}));
    }
}

} // namespace
} // namespace snipjar::test
