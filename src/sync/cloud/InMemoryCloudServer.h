#pragma once

#include "sync/cloud/CloudDatabase.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace snipjar::cloud {

class InMemoryCloudDatabase;

// A cloud server that lives in the process: many owners, each with zones, records with change tags
// and change numbers, tombstones kept for a retention period, and delete-self cascades. Thread-safe;
// clients (InMemoryCloudDatabase, one per owner) may call it from any thread.
//
// Tests and simulations steer it: calls can be made to fail, to apply a modify but lose its answer,
// to wait at a gate until released, and the server can be taken down and brought back.
class InMemoryCloudServer : public std::enable_shared_from_this<InMemoryCloudServer> {
public:
    using Clock = std::function<QDateTime()>;

    // A record as the server holds it: the field values only as their encoded bytes, the assets as
    // bytes by field key.
    struct StoredRecord {
        QString recordType;
        RecordID id;
        QString changeTag;
        qint64 changeNumber = 0;
        QByteArray encodedFields;
        QHash<QString, QByteArray> assets;
        QList<RecordID> deleteSelfTargets;
        bool deleted = false;
        QDateTime deletedAt;
    };

    // One record to save, as a client hands it over.
    struct SaveRequest {
        QString recordType;
        RecordID id;
        std::optional<QString> changeTag;
        QByteArray encodedFields;
        QHash<QString, QByteArray> assets;
        QList<RecordID> deleteSelfTargets;
    };

    struct SaveFailure {
        int index = 0;
        CloudErrorCode code = CloudErrorCode::internalError;
        std::optional<StoredRecord> serverRecord;
    };

    struct ModifyResult {
        // Index into the saves, and the record's new change tag.
        QList<std::pair<int, QString>> saved;
        QList<SaveFailure> failedSaves;
        QList<RecordID> deleted;
        QList<std::pair<RecordID, CloudErrorCode>> failedDeletes;
    };

    struct FetchResult {
        QList<StoredRecord> modifications;
        QList<RecordDeletion> deletions;
        ChangeToken nextToken;
        bool moreComing = false;
    };

    static constexpr std::chrono::seconds defaultTombstoneRetention = std::chrono::hours(24 * 30);

    static std::shared_ptr<InMemoryCloudServer> create();
    ~InMemoryCloudServer();

    // Different for every server made.
    const QString& serverID() const { return id; }
    // A client that acts for the owner.
    std::unique_ptr<InMemoryCloudDatabase> connect(const QString& owner);

    // Storage, as the clients use it. The owner is the client's; zones named with another owner
    // than the default one or this one are refused.
    CloudResult<std::monostate> saveZone(const QString& owner, const RecordZoneID& zone);
    CloudResult<ModifyResult> modify(const QString& owner, const QList<SaveRequest>& saves,
                                     const QList<RecordID>& deletions);
    CloudResult<FetchResult> fetch(const QString& owner, const RecordZoneID& zone,
                                   const std::optional<ChangeToken>& since, int pageLimit);

    // Tombstones older than the retention are dropped by prune(); a token from before the newest
    // dropped one has expired.
    void setClock(Clock clock);
    void setTombstoneRetention(std::chrono::seconds retention);
    void prune();

    // Fault injection. The next count calls (of any client) fail with the code and change nothing.
    void failNextCalls(int count, CloudErrorCode code);
    // The next count modify calls are applied, then answered with networkFailure.
    void loseNextModifyAnswers(int count);
    // While down every call fails with networkFailure; coming back up notifies every subscriber.
    void setDown(bool down);
    bool isDown() const;
    // While closed, calls wait at the gate (a client's cancel() lets its own call out).
    void closeGate();
    void openGate();
    // Waits until count calls are waiting at the closed gate; false after the timeout.
    bool waitForCallsAtGate(int count, std::chrono::milliseconds timeout);
    int callsAtGate() const;

    // Inspection.
    int callCount() const;
    int modifyCallCount() const;
    qint64 changeCounter(const QString& owner) const;
    std::optional<StoredRecord> record(const QString& owner, const RecordID& id) const;
    // Live records of the owner in the zone.
    QList<StoredRecord> liveRecords(const QString& owner, const RecordZoneID& zone) const;

    // Notices: onNotice runs after every change of the owner, on the thread that made it.
    std::unique_ptr<PushSubscription> subscribe(const QString& owner, std::function<void()> onNotice);

    // What a client does before each call: the gate, the server being down, injected failures.
    // cancelled() is asked while waiting at the gate.
    std::optional<CloudError> enterCall(const std::function<bool()>& cancelled);
    bool takeLostAnswer();
    // Wakes calls waiting at the gate so that they look at their cancellation again.
    void wakeWaitingCalls();

private:
    InMemoryCloudServer();

    struct Owner;
    struct Subscribers;

    Owner& ownerFor(const QString& owner);
    const Owner* findOwner(const QString& owner) const;
    void notify(const QString& owner);
    QDateTime now() const;

    const QString id;
    mutable std::mutex mutex;
    std::map<QString, std::unique_ptr<Owner>> owners;
    Clock clock;
    std::chrono::seconds retention = defaultTombstoneRetention;

    // Faults and the gate, under their own lock so that a waiting call never holds the storage.
    mutable std::mutex faultMutex;
    std::condition_variable gateChanged;
    int failuresLeft = 0;
    CloudErrorCode failureCode = CloudErrorCode::networkFailure;
    int lostAnswersLeft = 0;
    bool down = false;
    bool gateClosed = false;
    int waitingAtGate = 0;
    int calls = 0;
    int modifyCalls = 0;

    std::shared_ptr<Subscribers> subscribers;
};

} // namespace snipjar::cloud
