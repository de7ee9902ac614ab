#include "sync/engine/SyncEngine.h"

#include "platform/LogCategories.h"
#include "sync/engine/SyncEnginePrivate.h"

#include <QCryptographicHash>
#include <QJsonArray>

#include <algorithm>

namespace snipjar::sync {

namespace {

constexpr int stateVersion = 1;

QJsonArray zonesToJson(const QList<cloud::RecordZoneID>& zones) {
    QJsonArray list;
    for (const auto& zone : zones) {
        list.append(PendingChangeQueue::zoneToJson(zone));
    }
    return list;
}

QList<cloud::RecordZoneID> zonesFromJson(const QJsonValue& value) {
    QList<cloud::RecordZoneID> zones;
    for (const QJsonValue& entry : value.toArray()) {
        if (const auto zone = PendingChangeQueue::zoneFromJson(entry.toObject());
            zone && !zones.contains(*zone)) {
            zones.append(*zone);
        }
    }
    return zones;
}

} // namespace

SyncEngine::Private::Private(SyncEngine* q, SyncEngineConfiguration configuration)
    : q(q)
    , configuration(std::move(configuration))
    , queue([this] { stateChanged(); })
    , worker(this->configuration.database) {
    if (this->configuration.stateSerialization) {
        restore(*this->configuration.stateSerialization);
    }
}

QByteArray SyncEngine::Private::fingerprint(const cloud::CloudRecord& record) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(record.recordType().toUtf8());
    hash.addData(QByteArrayView("\0", 1));
    hash.addData(record.encodeFields());
    return hash.result();
}

StateSerialization SyncEngine::Private::serialization() const {
    QJsonObject data;
    data.insert(QStringLiteral("version"), stateVersion);
    data.insert(QStringLiteral("account"), configuration.accountIdentity);
    data.insert(QStringLiteral("changes"), queue.recordChangesToJson());
    data.insert(QStringLiteral("zones"), queue.databaseChangesToJson());
    data.insert(QStringLiteral("savedZones"), zonesToJson(savedZones));
    data.insert(QStringLiteral("fetchedZones"), zonesToJson(fetchedZones));
    QJsonArray tokenList;
    for (const auto& [zone, token] : tokens) {
        QJsonObject entry = PendingChangeQueue::zoneToJson(zone);
        entry.insert(QStringLiteral("token"), QString::number(token.value));
        tokenList.append(entry);
    }
    data.insert(QStringLiteral("tokens"), tokenList);
    if (refetch) {
        QJsonObject entry = PendingChangeQueue::zoneToJson(refetch->zone);
        entry.insert(QStringLiteral("expired"), QString::number(refetch->expiredToken));
        entry.insert(QStringLiteral("lostHistory"), refetch->lostHistory);
        data.insert(QStringLiteral("refetch"), entry);
    }
    QJsonArray inFlight;
    for (auto it = unanswered.cbegin(); it != unanswered.cend(); ++it) {
        const auto id = PendingChangeQueue::recordIDFromKey(it.key());
        if (!id) {
            continue;
        }
        QJsonObject entry = PendingChangeQueue::recordIDToJson(*id);
        entry.insert(QStringLiteral("kind"), it->kind == PendingRecordZoneChange::Kind::saveRecord
                                                 ? QStringLiteral("save")
                                                 : QStringLiteral("delete"));
        entry.insert(QStringLiteral("fingerprint"), QString::fromLatin1(it->fingerprint.toBase64()));
        inFlight.append(entry);
    }
    data.insert(QStringLiteral("inFlight"), inFlight);
    return StateSerialization{data};
}

void SyncEngine::Private::restore(const StateSerialization& state) {
    const QJsonObject& data = state.data;
    if (data.value(QStringLiteral("version")).toInt() != stateVersion) {
        qCWarning(lcSync, "engine: state of an unknown version; starting cold");
        return;
    }
    // A state written before identities were kept is taken as this account's.
    const QJsonValue account = data.value(QStringLiteral("account"));
    if (account.isString() && !configuration.accountIdentity.isEmpty() &&
        account.toString() != configuration.accountIdentity) {
        qCWarning(lcSync, "engine: the state was written for another server or account; starting cold");
        droppedForeignState = true;
        return;
    }
    queue.restore(data.value(QStringLiteral("changes")).toArray(),
                  data.value(QStringLiteral("zones")).toArray());
    savedZones = zonesFromJson(data.value(QStringLiteral("savedZones")));
    fetchedZones = zonesFromJson(data.value(QStringLiteral("fetchedZones")));
    for (const QJsonValue& value : data.value(QStringLiteral("tokens")).toArray()) {
        const QJsonObject entry = value.toObject();
        bool ok = false;
        const qint64 token = entry.value(QStringLiteral("token")).toString().toLongLong(&ok);
        if (const auto zone = PendingChangeQueue::zoneFromJson(entry); zone && ok) {
            tokens.insert(zoneKeyOf(*zone), {*zone, cloud::ChangeToken{token}});
        }
    }
    if (const QJsonObject entry = data.value(QStringLiteral("refetch")).toObject(); !entry.isEmpty()) {
        if (const auto zone = PendingChangeQueue::zoneFromJson(entry)) {
            refetch = Refetch{*zone, entry.value(QStringLiteral("expired")).toString().toLongLong(),
                              entry.value(QStringLiteral("lostHistory")).toBool()};
        }
    }
    for (const QJsonValue& value : data.value(QStringLiteral("inFlight")).toArray()) {
        const QJsonObject entry = value.toObject();
        const auto id = PendingChangeQueue::recordIDFromJson(entry);
        if (!id) {
            continue;
        }
        const bool save = entry.value(QStringLiteral("kind")).toString() == QStringLiteral("save");
        unanswered.insert(
            PendingChangeQueue::keyOf(*id),
            {save ? PendingRecordZoneChange::Kind::saveRecord : PendingRecordZoneChange::Kind::deleteRecord,
             QByteArray::fromBase64(entry.value(QStringLiteral("fingerprint")).toString().toLatin1())});
    }
}

void SyncEngine::Private::stateChanged() {
    if (stateUpdateQueued) {
        return;
    }
    stateUpdateQueued = true;
    SyncEvent event;
    event.type = SyncEvent::Type::stateUpdate;
    events.push_back({std::move(event), true, {}});
    schedulePump();
}

void SyncEngine::Private::deliver(SyncEvent event, std::function<void()> then) {
    events.push_back({std::move(event), false, std::move(then)});
    schedulePump();
}

void SyncEngine::Private::afterEvents(std::function<void()> then) {
    events.push_back({std::nullopt, false, std::move(then)});
    schedulePump();
}

void SyncEngine::Private::schedulePump() {
    if (pumpScheduled) {
        return;
    }
    pumpScheduled = true;
    QMetaObject::invokeMethod(
        q,
        [this] {
            pumpScheduled = false;
            pump();
        },
        Qt::QueuedConnection);
}

void SyncEngine::Private::pump() {
    while (!awaitingDelegate && !events.empty()) {
        QueuedEvent item = std::move(events.front());
        events.pop_front();
        if (!item.event) {
            if (item.then) {
                item.then();
            }
            continue;
        }
        if (item.freshState) {
            stateUpdateQueued = false;
            item.event->stateSerialization = serialization();
        }
        if (configuration.delegate == nullptr) {
            if (item.then) {
                item.then();
            }
            continue;
        }
        awaitingDelegate = true;
        auto answered = std::make_shared<bool>(false);
        QPointer<SyncEngine> guard(q);
        configuration.delegate->handleEvent(*item.event,
                                            [this, guard, answered, then = std::move(item.then)] {
                                                if (!guard || *answered) {
                                                    return;
                                                }
                                                *answered = true;
                                                awaitingDelegate = false;
                                                if (then) {
                                                    then();
                                                }
                                                schedulePump();
                                            });
        // An answer given at once goes on in a later turn of the event loop, so the delegate is
        // never called from inside its own handler.
        return;
    }
}

void SyncEngine::Private::enqueueOperation(OperationKind kind, Completion done) {
    operations.push_back({kind, std::move(done)});
    runNextOperation();
}

void SyncEngine::Private::runNextOperation() {
    if (current || operations.empty()) {
        return;
    }
    current = std::move(operations.front());
    operations.pop_front();
    if (current->kind == OperationKind::send) {
        startSend();
    } else {
        startFetch();
    }
}

void SyncEngine::Private::finishOperation(SyncEvent::Type lastEvent,
                                          const std::optional<cloud::CloudError>& error) {
    SyncEvent event;
    event.type = lastEvent;
    deliver(std::move(event), [this, error] {
        Completion done = std::move(current->done);
        current.reset();
        attempted.clear();
        attemptedZones.clear();
        zonesToFetch.clear();
        pageRefused = false;
        liveRecords.clear();
        QPointer<SyncEngine> guard(q);
        if (done) {
            done(error);
        }
        if (guard) {
            runNextOperation();
        }
    });
}

SyncEngine::SyncEngine(SyncEngineConfiguration configuration, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Private>(this, std::move(configuration))) {}

SyncEngine::~SyncEngine() {
    d->worker.stop();
}

SyncEngineState& SyncEngine::state() {
    return d->queue;
}

cloud::CloudDatabase& SyncEngine::database() {
    return *d->configuration.database;
}

StateSerialization SyncEngine::stateSerialization() const {
    return d->serialization();
}

bool SyncEngine::droppedStateOfAnotherAccount() const {
    return d->droppedForeignState;
}

void SyncEngine::pageNotStored() {
    d->pageRefused = true;
}

void SyncEngine::sendChanges(Completion done) {
    d->enqueueOperation(Private::OperationKind::send, std::move(done));
}

void SyncEngine::fetchChanges(Completion done) {
    d->enqueueOperation(Private::OperationKind::fetch, std::move(done));
}

bool SyncEngine::hasWaitingFetch() const {
    return std::any_of(d->operations.cbegin(), d->operations.cend(), [](const Private::Operation& operation) {
        return operation.kind == Private::OperationKind::fetch;
    });
}

} // namespace snipjar::sync
