// Fetching: every zone the engine knows, page by page from its change token; an expired token
// starts the zone again from the beginning and ends with refetchedEverything, even when an error or
// a restart comes in between.
#include "platform/LogCategories.h"
#include "sync/engine/SyncEnginePrivate.h"

namespace snipjar::sync {

void SyncEngine::Private::startFetch() {
    SyncEvent event;
    event.type = SyncEvent::Type::willFetchChanges;
    deliver(std::move(event), [this] {
        zonesToFetch = savedZones;
        for (const auto& change : queue.pendingDatabaseChanges()) {
            if (!zonesToFetch.contains(change.saveZone)) {
                zonesToFetch.append(change.saveZone);
            }
        }
        if (refetch) {
            // A fetch from the start that did not get to its end starts over: the live records it
            // had counted went with it.
            tokens.remove(zoneKeyOf(refetch->zone));
            if (!zonesToFetch.contains(refetch->zone)) {
                refetch.reset();
            }
            stateChanged();
        }
        bool zonesChanged = zonesToFetch.size() != fetchedZones.size();
        for (const auto& zone : std::as_const(zonesToFetch)) {
            zonesChanged = zonesChanged || !fetchedZones.contains(zone);
        }
        if (!zonesChanged) {
            fetchZone(0);
            return;
        }
        fetchedZones = zonesToFetch;
        stateChanged();
        SyncEvent zones;
        zones.type = SyncEvent::Type::fetchedDatabaseChanges;
        deliver(std::move(zones), [this] { fetchZone(0); });
    });
}

void SyncEngine::Private::fetchZone(int index) {
    if (index >= zonesToFetch.size()) {
        finishOperation(SyncEvent::Type::didFetchChanges, std::nullopt);
        return;
    }
    const cloud::RecordZoneID zone = zonesToFetch[index];
    std::optional<cloud::ChangeToken> since;
    if (const auto found = tokens.constFind(zoneKeyOf(zone)); found != tokens.constEnd()) {
        since = found->second;
    }
    worker.run(
        q, [zone, since](cloud::CloudDatabase& database) { return database.fetchChanges(zone, since); },
        [this, index, since](cloud::CloudResult<cloud::ChangePage> result) {
            const bool hadToken = since.has_value();
            // Once per zone and fetch: a server that keeps refusing the tokens of its own pages ends
            // the fetch with the error instead.
            if (!result && result.error().code == cloud::CloudErrorCode::changeTokenExpired && hadToken &&
                !refetch) {
                qCInfo(lcSync, "engine: change token expired; fetching everything");
                tokens.remove(zoneKeyOf(zonesToFetch[index]));
                refetch = Refetch{zonesToFetch[index], since->value, result.error().historyWentBack};
                stateChanged();
                liveRecords.clear();
                fetchZone(index);
                return;
            }
            handlePage(index, std::move(result));
        });
}

void SyncEngine::Private::handlePage(int index, cloud::CloudResult<cloud::ChangePage> result) {
    const cloud::RecordZoneID zone = zonesToFetch[index];
    if (!result) {
        if (result.error().code == cloud::CloudErrorCode::zoneNotFound) {
            // The server has no such zone (not created yet, or lost): it is created at the next send.
            tokens.remove(zoneKeyOf(zone));
            if (savedZones.removeAll(zone) > 0) {
                queue.add(QList<PendingDatabaseChange>{PendingDatabaseChange{zone}});
            }
            if (refetching(zone)) {
                refetch.reset();
            }
            stateChanged();
            fetchZone(index + 1);
            return;
        }
        qCWarning(lcSync, "engine: fetching changes failed: %s",
                  qUtf8Printable(cloudErrorCodeName(result.error().code)));
        finishOperation(SyncEvent::Type::didFetchChanges, result.error());
        return;
    }
    cloud::ChangePage page = std::move(result.value());
    if (refetching(zone)) {
        for (const auto& record : std::as_const(page.modifications)) {
            liveRecords.insert_or_assign(PendingChangeQueue::keyOf(record.recordID()), record.recordID());
        }
        for (const auto& deletion : std::as_const(page.deletions)) {
            liveRecords.erase(PendingChangeQueue::keyOf(deletion.id));
        }
    }
    if (page.modifications.isEmpty() && page.deletions.isEmpty()) {
        finishZonePage(index, page);
        return;
    }
    SyncEvent event;
    event.type = SyncEvent::Type::fetchedRecordZoneChanges;
    event.modifications = page.modifications;
    event.deletions = page.deletions;
    deliver(std::move(event), [this, index, page] {
        if (pageRefused) {
            // The position stays: the page comes again with the next fetch.
            removeAssetFiles(page.modifications);
            finishOperation(SyncEvent::Type::didFetchChanges,
                            cloud::CloudError{cloud::CloudErrorCode::internalError,
                                              QStringLiteral("the fetched changes could not be stored"),
                                              std::nullopt});
            return;
        }
        finishZonePage(index, page);
    });
}

void SyncEngine::Private::finishZonePage(int index, const cloud::ChangePage& page) {
    removeAssetFiles(page.modifications);
    const cloud::RecordZoneID zone = zonesToFetch[index];
    // The position moves on only once the page was handled, so a page lost to a crash comes again.
    tokens.insert(zoneKeyOf(zone), {zone, page.nextToken});
    stateChanged();
    if (page.moreComing) {
        fetchZone(index);
        return;
    }
    if (!refetching(zone)) {
        fetchZone(index + 1);
        return;
    }
    SyncEvent event;
    // A server keeps counting up; one now behind the position it gave out lost part of its history,
    // and one that has counted past it since may say so itself.
    const bool wentBack = refetch->lostHistory || page.nextToken.value < refetch->expiredToken;
    if (wentBack) {
        qCWarning(lcSync, "engine: the server's history went back (restored from a backup?)");
    }
    event.type = wentBack ? SyncEvent::Type::accountChange : SyncEvent::Type::refetchedEverything;
    for (const auto& [key, id] : liveRecords) {
        event.liveRecordIDs.append(id);
    }
    liveRecords.clear();
    // Done only once the live records were named and dealt with.
    deliver(std::move(event), [this, index] {
        refetch.reset();
        stateChanged();
        fetchZone(index + 1);
    });
}

} // namespace snipjar::sync
