#include "sync/engine/PendingChangeQueue.h"

#include <QJsonObject>

namespace snipjar::sync {

PendingChangeQueue::PendingChangeQueue(std::function<void()> onChange)
    : onChange(std::move(onChange)) {}

void PendingChangeQueue::changed() {
    if (onChange) {
        onChange();
    }
}

QString PendingChangeQueue::keyOf(const cloud::RecordID& id) {
    return id.zone.ownerName + QChar(0x1f) + id.zone.zoneName + QChar(0x1f) + id.recordName;
}

void PendingChangeQueue::add(const QList<PendingDatabaseChange>& changes) {
    bool any = false;
    for (const auto& change : changes) {
        if (!databaseChanges.contains(change)) {
            databaseChanges.append(change);
            any = true;
        }
    }
    if (any) {
        changed();
    }
}

void PendingChangeQueue::add(const QList<PendingRecordZoneChange>& changes) {
    if (changes.isEmpty()) {
        return;
    }
    for (const auto& change : changes) {
        const QString key = keyOf(change.id);
        auto found = positions.find(key);
        if (found != positions.end()) {
            Entry& entry = entries.at(found.value());
            if (entry.change.kind == change.kind) {
                entry.generation = nextGeneration++;
                continue;
            }
            entries.erase(found.value());
            positions.erase(found);
        }
        const quint64 position = nextPosition++;
        entries.emplace(position, Entry{change, nextGeneration++});
        positions.insert(key, position);
    }
    changed();
}

void PendingChangeQueue::remove(const QList<PendingRecordZoneChange>& changes) {
    bool any = false;
    for (const auto& change : changes) {
        auto found = positions.find(keyOf(change.id));
        if (found != positions.end() && entries.at(found.value()).change.kind == change.kind) {
            entries.erase(found.value());
            positions.erase(found);
            any = true;
        }
    }
    if (any) {
        changed();
    }
}

void PendingChangeQueue::removeDatabaseChange(const PendingDatabaseChange& change) {
    if (databaseChanges.removeAll(change) > 0) {
        changed();
    }
}

std::optional<quint64> PendingChangeQueue::generation(const PendingRecordZoneChange& change) const {
    auto found = positions.find(keyOf(change.id));
    if (found == positions.end()) {
        return std::nullopt;
    }
    const Entry& entry = entries.at(found.value());
    if (entry.change.kind != change.kind) {
        return std::nullopt;
    }
    return entry.generation;
}

void PendingChangeQueue::removeIfUnchanged(const PendingRecordZoneChange& change, quint64 expected) {
    if (generation(change) == expected) {
        remove({change});
    }
}

QList<PendingRecordZoneChange> PendingChangeQueue::pendingRecordZoneChanges() const {
    QList<PendingRecordZoneChange> list;
    list.reserve(static_cast<qsizetype>(entries.size()));
    for (const auto& [position, entry] : entries) {
        list.append(entry.change);
    }
    return list;
}

QList<PendingDatabaseChange> PendingChangeQueue::pendingDatabaseChanges() const {
    return databaseChanges;
}

QJsonObject PendingChangeQueue::zoneToJson(const cloud::RecordZoneID& zone) {
    return QJsonObject{{QStringLiteral("zone"), zone.zoneName}, {QStringLiteral("owner"), zone.ownerName}};
}

std::optional<cloud::RecordZoneID> PendingChangeQueue::zoneFromJson(const QJsonObject& object) {
    const QJsonValue zone = object.value(QStringLiteral("zone"));
    const QJsonValue owner = object.value(QStringLiteral("owner"));
    if (!zone.isString() || !owner.isString() || zone.toString().isEmpty()) {
        return std::nullopt;
    }
    return cloud::RecordZoneID{zone.toString(), owner.toString()};
}

QJsonObject PendingChangeQueue::recordIDToJson(const cloud::RecordID& id) {
    QJsonObject object = zoneToJson(id.zone);
    object.insert(QStringLiteral("record"), id.recordName);
    return object;
}

std::optional<cloud::RecordID> PendingChangeQueue::recordIDFromJson(const QJsonObject& object) {
    const auto zone = zoneFromJson(object);
    const QJsonValue name = object.value(QStringLiteral("record"));
    if (!zone || !name.isString() || name.toString().isEmpty()) {
        return std::nullopt;
    }
    return cloud::RecordID{name.toString(), *zone};
}

QJsonArray PendingChangeQueue::recordChangesToJson() const {
    QJsonArray list;
    for (const auto& [position, entry] : entries) {
        QJsonObject object = recordIDToJson(entry.change.id);
        object.insert(QStringLiteral("kind"), entry.change.kind == PendingRecordZoneChange::Kind::saveRecord
                                                  ? QStringLiteral("save")
                                                  : QStringLiteral("delete"));
        list.append(object);
    }
    return list;
}

QJsonArray PendingChangeQueue::databaseChangesToJson() const {
    QJsonArray list;
    for (const auto& change : databaseChanges) {
        list.append(zoneToJson(change.saveZone));
    }
    return list;
}

void PendingChangeQueue::restore(const QJsonArray& recordChanges, const QJsonArray& databaseList) {
    entries.clear();
    positions.clear();
    databaseChanges.clear();
    QList<PendingRecordZoneChange> changes;
    for (const QJsonValue& value : recordChanges) {
        const QJsonObject object = value.toObject();
        const auto id = recordIDFromJson(object);
        const QString kind = object.value(QStringLiteral("kind")).toString();
        if (!id || (kind != QStringLiteral("save") && kind != QStringLiteral("delete"))) {
            continue;
        }
        changes.append(kind == QStringLiteral("save") ? PendingRecordZoneChange::save(*id)
                                                      : PendingRecordZoneChange::remove(*id));
    }
    for (const QJsonValue& value : databaseList) {
        if (const auto zone = zoneFromJson(value.toObject())) {
            if (!databaseChanges.contains(PendingDatabaseChange{*zone})) {
                databaseChanges.append(PendingDatabaseChange{*zone});
            }
        }
    }
    const auto notify = std::exchange(onChange, {});
    add(changes);
    onChange = notify;
}

} // namespace snipjar::sync
