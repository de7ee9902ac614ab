#include "TestDelegate.h"

#include "EventLoopWait.h"

#include <QThread>
#include <gtest/gtest.h>

namespace snipjar::test {

using sync::SyncEvent;

void TestDelegate::handleEvent(const SyncEvent& event, std::function<void()> done) {
    events.append(event);
    if (event.type == SyncEvent::Type::sentRecordZoneChanges) {
        for (const auto& record : event.savedRecords) {
            if (auto found = local.find(record.recordName()); found != local.end()) {
                found->setChangeTag(record.changeTag());
            }
        }
    }
    if (event.type == SyncEvent::Type::fetchedRecordZoneChanges) {
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

std::optional<sync::RecordZoneChangeBatch> TestDelegate::nextRecordZoneChangeBatch(sync::SyncEngine& engine) {
    const auto pending = engine.state().pendingRecordZoneChanges();
    if (pending.isEmpty()) {
        return std::nullopt;
    }
    // The records are built on the engine's worker, never on the main thread: from a copy.
    return sync::RecordZoneChangeBatch{pending,
                                       [records = local, main = QThread::currentThread()](
                                           const cloud::RecordID& id) -> std::optional<cloud::CloudRecord> {
                                           EXPECT_NE(QThread::currentThread(), main);
                                           const auto found = records.constFind(id.recordName);
                                           if (found == records.constEnd()) {
                                               return std::nullopt;
                                           }
                                           return *found;
                                       }};
}

void TestDelegate::setText(const QString& name, const QString& text) {
    cloud::CloudRecord record = local.value(name, cloud::CloudRecord(QStringLiteral("ClipItem"), idOf(name)));
    record.setValue(QStringLiteral("text"), text);
    local.insert(name, record);
}

QList<SyncEvent> TestDelegate::eventsOf(SyncEvent::Type type) const {
    QList<SyncEvent> chosen;
    for (const auto& event : events) {
        if (event.type == type) {
            chosen.append(event);
        }
    }
    return chosen;
}

QList<SyncEvent::Type> TestDelegate::eventTypes(bool withStateUpdates) const {
    QList<SyncEvent::Type> types;
    for (const auto& event : events) {
        if (withStateUpdates || event.type != SyncEvent::Type::stateUpdate) {
            types.append(event.type);
        }
    }
    return types;
}

std::optional<sync::StateSerialization> TestDelegate::lastState() const {
    const auto updates = eventsOf(SyncEvent::Type::stateUpdate);
    if (updates.isEmpty()) {
        return std::nullopt;
    }
    return updates.last().stateSerialization;
}

void TestDelegate::releaseOne() {
    if (!held.isEmpty()) {
        held.takeFirst()();
    }
}

namespace {

template <typename Start> std::optional<cloud::CloudError> runAndWait(Start start) {
    bool finished = false;
    std::optional<cloud::CloudError> error;
    start([&](std::optional<cloud::CloudError> result) {
        finished = true;
        error = std::move(result);
    });
    EXPECT_TRUE(waitUntil([&] { return finished; }, std::chrono::seconds(60)));
    return error;
}

} // namespace

std::optional<cloud::CloudError> sendAndWait(sync::SyncEngine& engine) {
    return runAndWait([&](sync::SyncEngine::Completion done) { engine.sendChanges(std::move(done)); });
}

std::optional<cloud::CloudError> fetchAndWait(sync::SyncEngine& engine) {
    return runAndWait([&](sync::SyncEngine::Completion done) { engine.fetchChanges(std::move(done)); });
}

} // namespace snipjar::test
