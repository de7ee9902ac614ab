#include "sync/cloud/InMemoryCloudServer.h"

#include "sync/cloud/InMemoryCloudDatabase.h"

#include <QSet>
#include <QUuid>

#include <algorithm>
#include <mutex>

namespace snipjar::cloud {

namespace {

using RecordKey = std::pair<QString, QString>; // zone name, record name

RecordKey keyOf(const RecordID& id) {
    return {id.zone.zoneName, id.recordName};
}

RecordID normalized(const RecordID& id) {
    return {id.recordName, {id.zone.zoneName, RecordZoneID::defaultOwner}};
}

bool ownsZone(const QString& owner, const RecordZoneID& zone) {
    return zone.ownerName == RecordZoneID::defaultOwner || zone.ownerName == owner;
}

CloudError errorOf(CloudErrorCode code, const char* description) {
    return CloudError{code, QString::fromLatin1(description), std::nullopt};
}

} // namespace

struct InMemoryCloudServer::Owner {
    QSet<QString> zones;
    std::map<RecordKey, StoredRecord> records;
    // Change number → record, for fetching in the order of changes.
    std::map<qint64, RecordKey> changes;
    // Target → the records whose deleteSelf reference points to it.
    std::map<RecordKey, QSet<RecordKey>> referrers;
    qint64 counter = 0;
    // The newest change number among the tombstones dropped by prune().
    qint64 prunedThrough = 0;
    // Tokens handed out by pages of a fetch from the start since the last prune: they stay good
    // although they may be older than prunedThrough, as no tombstone was dropped since they were.
    QSet<qint64> freshStartTokens;

    void stamp(const RecordKey& key, StoredRecord& record) {
        if (record.changeNumber != 0) {
            changes.erase(record.changeNumber);
        }
        record.changeNumber = ++counter;
        record.changeTag = QStringLiteral("t%1").arg(record.changeNumber);
        changes[record.changeNumber] = key;
    }

    void unlinkReferences(const RecordKey& key, const StoredRecord& record) {
        for (const RecordID& target : record.deleteSelfTargets) {
            auto found = referrers.find(keyOf(target));
            if (found != referrers.end()) {
                found->second.remove(key);
                if (found->second.isEmpty()) {
                    referrers.erase(found);
                }
            }
        }
    }

    void linkReferences(const RecordKey& key, const StoredRecord& record) {
        for (const RecordID& target : record.deleteSelfTargets) {
            referrers[keyOf(target)].insert(key);
        }
    }

    // Deletes the record and, one change each, every record that refers to it with deleteSelf.
    void remove(const RecordKey& first, const QDateTime& now) {
        QList<RecordKey> pending{first};
        while (!pending.isEmpty()) {
            const RecordKey key = pending.takeFirst();
            auto found = records.find(key);
            if (found == records.end() || found->second.deleted) {
                continue;
            }
            StoredRecord& record = found->second;
            unlinkReferences(key, record);
            record.deleted = true;
            record.deletedAt = now;
            record.encodedFields.clear();
            record.assets.clear();
            record.deleteSelfTargets.clear();
            stamp(key, record);
            auto referring = referrers.find(key);
            if (referring != referrers.end()) {
                QList<RecordKey> sorted(referring->second.begin(), referring->second.end());
                std::sort(sorted.begin(), sorted.end());
                pending.append(sorted);
            }
        }
    }
};

// Subscriptions of every owner. Each has its own lock, held while its callback runs, so that once
// the subscription is destroyed no callback runs any more.
struct InMemoryCloudServer::Subscribers {
    struct Entry {
        QString owner;
        std::function<void()> onNotice;
        std::recursive_mutex running;
        bool active = true;
    };

    std::mutex mutex;
    QList<std::shared_ptr<Entry>> entries;

    void deliver(const std::optional<QString>& owner) {
        QList<std::shared_ptr<Entry>> chosen;
        {
            std::lock_guard lock(mutex);
            for (const auto& entry : entries) {
                if (!owner || entry->owner == *owner) {
                    chosen.append(entry);
                }
            }
        }
        for (const auto& entry : chosen) {
            std::lock_guard lock(entry->running);
            if (entry->active) {
                entry->onNotice();
            }
        }
    }
};

namespace {

class InMemorySubscription : public PushSubscription {
public:
    InMemorySubscription(std::weak_ptr<void> hub, std::shared_ptr<void> entry,
                         std::function<void()> unregister)
        : hub(std::move(hub))
        , entry(std::move(entry))
        , unregister(std::move(unregister)) {}
    ~InMemorySubscription() override {
        if (hub.lock()) {
            unregister();
        }
    }

private:
    std::weak_ptr<void> hub;
    std::shared_ptr<void> entry;
    std::function<void()> unregister;
};

} // namespace

std::shared_ptr<InMemoryCloudServer> InMemoryCloudServer::create() {
    return std::shared_ptr<InMemoryCloudServer>(new InMemoryCloudServer());
}

InMemoryCloudServer::InMemoryCloudServer()
    : id(QUuid::createUuid().toString(QUuid::WithoutBraces))
    , clock([] { return QDateTime::currentDateTimeUtc(); })
    , subscribers(std::make_shared<Subscribers>()) {}

InMemoryCloudServer::~InMemoryCloudServer() = default;

std::unique_ptr<InMemoryCloudDatabase> InMemoryCloudServer::connect(const QString& owner) {
    return std::make_unique<InMemoryCloudDatabase>(shared_from_this(), owner);
}

InMemoryCloudServer::Owner& InMemoryCloudServer::ownerFor(const QString& owner) {
    auto& slot = owners[owner];
    if (!slot) {
        slot = std::make_unique<Owner>();
    }
    return *slot;
}

const InMemoryCloudServer::Owner* InMemoryCloudServer::findOwner(const QString& owner) const {
    auto found = owners.find(owner);
    return found == owners.end() ? nullptr : found->second.get();
}

QDateTime InMemoryCloudServer::now() const {
    return clock();
}

CloudResult<std::monostate> InMemoryCloudServer::saveZone(const QString& owner, const RecordZoneID& zone) {
    if (!ownsZone(owner, zone) || zone.zoneName.isEmpty()) {
        return errorOf(CloudErrorCode::permissionFailure, "zone of another owner");
    }
    bool created = false;
    {
        std::lock_guard lock(mutex);
        Owner& data = ownerFor(owner);
        if (!data.zones.contains(zone.zoneName)) {
            data.zones.insert(zone.zoneName);
            created = true;
        }
    }
    if (created) {
        notify(owner);
    }
    return std::monostate{};
}

CloudResult<InMemoryCloudServer::ModifyResult> InMemoryCloudServer::modify(const QString& owner,
                                                                           const QList<SaveRequest>& saves,
                                                                           const QList<RecordID>& deletions) {
    ModifyResult result;
    bool changed = false;
    {
        std::lock_guard lock(mutex);
        {
            std::lock_guard faults(faultMutex);
            ++modifyCalls;
        }
        Owner& data = ownerFor(owner);
        const QDateTime time = now();
        for (int i = 0; i < saves.size(); ++i) {
            const SaveRequest& save = saves[i];
            if (!ownsZone(owner, save.id.zone)) {
                result.failedSaves.append({i, CloudErrorCode::permissionFailure, std::nullopt});
                continue;
            }
            if (!data.zones.contains(save.id.zone.zoneName)) {
                result.failedSaves.append({i, CloudErrorCode::zoneNotFound, std::nullopt});
                continue;
            }
            const RecordKey key = keyOf(save.id);
            auto found = data.records.find(key);
            const bool live = found != data.records.end() && !found->second.deleted;
            if (live && (!save.changeTag || *save.changeTag != found->second.changeTag)) {
                result.failedSaves.append({i, CloudErrorCode::serverRecordChanged, found->second});
                continue;
            }
            if (!live && save.changeTag) {
                result.failedSaves.append({i, CloudErrorCode::unknownItem, std::nullopt});
                continue;
            }
            StoredRecord& record = data.records[key];
            data.unlinkReferences(key, record);
            record.recordType = save.recordType;
            record.id = normalized(save.id);
            record.encodedFields = save.encodedFields;
            record.assets = save.assets;
            record.deleteSelfTargets.clear();
            for (const RecordID& target : save.deleteSelfTargets) {
                record.deleteSelfTargets.append(normalized(target));
            }
            record.deleted = false;
            record.deletedAt = {};
            data.stamp(key, record);
            data.linkReferences(key, record);
            result.saved.append({i, record.changeTag});
            changed = true;
        }
        for (const RecordID& id : deletions) {
            if (!ownsZone(owner, id.zone)) {
                result.failedDeletes.append({id, CloudErrorCode::permissionFailure});
                continue;
            }
            auto found = data.records.find(keyOf(id));
            if (found == data.records.end() || found->second.deleted) {
                result.failedDeletes.append({id, CloudErrorCode::unknownItem});
                continue;
            }
            data.remove(keyOf(id), time);
            result.deleted.append(id);
            changed = true;
        }
    }
    if (changed) {
        notify(owner);
    }
    return result;
}

CloudResult<InMemoryCloudServer::FetchResult>
InMemoryCloudServer::fetch(const QString& owner, const RecordZoneID& zone,
                           const std::optional<ChangeToken>& since, int pageLimit) {
    if (!ownsZone(owner, zone)) {
        return errorOf(CloudErrorCode::permissionFailure, "zone of another owner");
    }
    std::lock_guard lock(mutex);
    Owner* data = owners.count(owner) != 0 ? owners.at(owner).get() : nullptr;
    if (data == nullptr || !data->zones.contains(zone.zoneName)) {
        return errorOf(CloudErrorCode::zoneNotFound, "no such zone");
    }
    if (since && (since->value > data->counter ||
                  (since->value < data->prunedThrough && !data->freshStartTokens.contains(since->value)))) {
        return errorOf(CloudErrorCode::changeTokenExpired, "change token expired");
    }
    FetchResult result;
    result.nextToken = ChangeToken{data->counter};
    int taken = 0;
    for (auto it = data->changes.upper_bound(since ? since->value : 0); it != data->changes.end(); ++it) {
        if (it->second.first != zone.zoneName) {
            continue;
        }
        const StoredRecord& record = data->records.at(it->second);
        if (record.deleted && !since) {
            continue;
        }
        if (taken == pageLimit) {
            result.moreComing = true;
            break;
        }
        if (record.deleted) {
            result.deletions.append({record.id, record.recordType});
        } else {
            result.modifications.append(record);
        }
        ++taken;
        result.nextToken = ChangeToken{it->first};
    }
    if (!result.moreComing) {
        result.nextToken = ChangeToken{data->counter};
    } else if (!since || data->freshStartTokens.contains(since->value)) {
        data->freshStartTokens.insert(result.nextToken.value);
    }
    return result;
}

void InMemoryCloudServer::setClock(Clock value) {
    std::lock_guard lock(mutex);
    clock = std::move(value);
}

void InMemoryCloudServer::setTombstoneRetention(std::chrono::seconds value) {
    std::lock_guard lock(mutex);
    retention = value;
}

void InMemoryCloudServer::prune() {
    std::lock_guard lock(mutex);
    const QDateTime limit = now().addSecs(-retention.count());
    for (auto& [name, data] : owners) {
        const qint64 before = data->prunedThrough;
        for (auto it = data->records.begin(); it != data->records.end();) {
            if (it->second.deleted && it->second.deletedAt <= limit) {
                data->prunedThrough = std::max(data->prunedThrough, it->second.changeNumber);
                data->changes.erase(it->second.changeNumber);
                it = data->records.erase(it);
            } else {
                ++it;
            }
        }
        if (data->prunedThrough != before) {
            data->freshStartTokens.clear();
        }
    }
}

void InMemoryCloudServer::failNextCalls(int count, CloudErrorCode code) {
    std::lock_guard lock(faultMutex);
    failuresLeft = count;
    failureCode = code;
}

void InMemoryCloudServer::loseNextModifyAnswers(int count) {
    std::lock_guard lock(faultMutex);
    lostAnswersLeft = count;
}

void InMemoryCloudServer::setDown(bool value) {
    bool cameUp = false;
    {
        std::lock_guard lock(faultMutex);
        cameUp = down && !value;
        down = value;
    }
    if (cameUp) {
        subscribers->deliver(std::nullopt);
    }
}

bool InMemoryCloudServer::isDown() const {
    std::lock_guard lock(faultMutex);
    return down;
}

void InMemoryCloudServer::closeGate() {
    std::lock_guard lock(faultMutex);
    gateClosed = true;
}

void InMemoryCloudServer::openGate() {
    {
        std::lock_guard lock(faultMutex);
        gateClosed = false;
    }
    gateChanged.notify_all();
}

bool InMemoryCloudServer::waitForCallsAtGate(int count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(faultMutex);
    return gateChanged.wait_for(lock, timeout, [&] { return waitingAtGate >= count; });
}

int InMemoryCloudServer::callsAtGate() const {
    std::lock_guard lock(faultMutex);
    return waitingAtGate;
}

void InMemoryCloudServer::wakeWaitingCalls() {
    // Taking the lock orders the wake after a waiter's look at its cancellation.
    { std::lock_guard lock(faultMutex); }
    gateChanged.notify_all();
}

std::optional<CloudError> InMemoryCloudServer::enterCall(const std::function<bool()>& cancelled) {
    std::unique_lock lock(faultMutex);
    ++calls;
    if (gateClosed) {
        ++waitingAtGate;
        gateChanged.notify_all();
        gateChanged.wait(lock, [&] { return !gateClosed || cancelled(); });
        --waitingAtGate;
    }
    if (cancelled()) {
        return errorOf(CloudErrorCode::operationCancelled, "operation cancelled");
    }
    if (down) {
        return errorOf(CloudErrorCode::networkFailure, "server unreachable");
    }
    if (failuresLeft > 0) {
        --failuresLeft;
        return errorOf(failureCode, "injected failure");
    }
    return std::nullopt;
}

bool InMemoryCloudServer::takeLostAnswer() {
    std::lock_guard lock(faultMutex);
    if (lostAnswersLeft > 0) {
        --lostAnswersLeft;
        return true;
    }
    return false;
}

int InMemoryCloudServer::callCount() const {
    std::lock_guard lock(faultMutex);
    return calls;
}

int InMemoryCloudServer::modifyCallCount() const {
    std::lock_guard lock(faultMutex);
    return modifyCalls;
}

qint64 InMemoryCloudServer::changeCounter(const QString& owner) const {
    std::lock_guard lock(mutex);
    const Owner* data = findOwner(owner);
    return data == nullptr ? 0 : data->counter;
}

std::optional<InMemoryCloudServer::StoredRecord> InMemoryCloudServer::record(const QString& owner,
                                                                             const RecordID& id) const {
    std::lock_guard lock(mutex);
    const Owner* data = findOwner(owner);
    if (data == nullptr) {
        return std::nullopt;
    }
    auto found = data->records.find(keyOf(id));
    if (found == data->records.end()) {
        return std::nullopt;
    }
    return found->second;
}

QList<InMemoryCloudServer::StoredRecord> InMemoryCloudServer::liveRecords(const QString& owner,
                                                                          const RecordZoneID& zone) const {
    std::lock_guard lock(mutex);
    QList<StoredRecord> live;
    const Owner* data = findOwner(owner);
    if (data == nullptr) {
        return live;
    }
    for (const auto& [number, key] : data->changes) {
        const StoredRecord& record = data->records.at(key);
        if (key.first == zone.zoneName && !record.deleted) {
            live.append(record);
        }
    }
    return live;
}

std::unique_ptr<PushSubscription> InMemoryCloudServer::subscribe(const QString& owner,
                                                                 std::function<void()> onNotice) {
    auto entry = std::make_shared<Subscribers::Entry>();
    entry->owner = owner;
    entry->onNotice = std::move(onNotice);
    {
        std::lock_guard lock(subscribers->mutex);
        subscribers->entries.append(entry);
    }
    std::weak_ptr<Subscribers> hub = subscribers;
    auto unregister = [hub, weakEntry = std::weak_ptr<Subscribers::Entry>(entry)] {
        auto strongHub = hub.lock();
        auto strongEntry = weakEntry.lock();
        if (!strongHub || !strongEntry) {
            return;
        }
        {
            std::lock_guard lock(strongEntry->running);
            strongEntry->active = false;
        }
        std::lock_guard lock(strongHub->mutex);
        strongHub->entries.removeAll(strongEntry);
    };
    return std::make_unique<InMemorySubscription>(subscribers, entry, std::move(unregister));
}

void InMemoryCloudServer::notify(const QString& owner) {
    subscribers->deliver(owner);
}

} // namespace snipjar::cloud
