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

// Each change is one string, "s" or "d" followed by the record's key: thousands of them are
// written at every state update, and one string per change keeps that cheap.
QJsonArray PendingChangeQueue::recordChangesToJson() const {
    QJsonArray list;
    for (const auto& [position, entry] : entries) {
        list.append((entry.change.kind == PendingRecordZoneChange::Kind::saveRecord ? QLatin1Char('s')
                                                                                    : QLatin1Char('d')) +
                    keyOf(entry.change.id));
    }
    return list;
}

std::optional<cloud::RecordID> PendingChangeQueue::recordIDFromKey(QStringView key) {
    const qsizetype first = key.indexOf(QChar(0x1f));
    const qsizetype second = first < 0 ? -1 : key.indexOf(QChar(0x1f), first + 1);
    if (second < 0 || second + 1 >= key.size() || second == first + 1) {
        return std::nullopt;
    }
    return cloud::RecordID{key.mid(second + 1).toString(),
                           {key.mid(first + 1, second - first - 1).toString(), key.left(first).toString()}};
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
        const QString text = value.toString();
        const auto id = recordIDFromKey(QStringView(text).mid(1));
        if (!id || (!text.startsWith(QLatin1Char('s')) && !text.startsWith(QLatin1Char('d')))) {
            continue;
        }
        changes.append(text.startsWith(QLatin1Char('s')) ? PendingRecordZoneChange::save(*id)
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
