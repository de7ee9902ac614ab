#include "store/ClipStore.h"

#include <QHash>

#include <algorithm>
#include <vector>

namespace snipjar {

namespace {

// Item times in milliseconds, in the order of the list.
std::vector<qint64> creationTimes(const QList<ClipItem>& items) {
    std::vector<qint64> times(size_t(items.size()));
    for (qsizetype index = 0; index < items.size(); ++index) {
        times[size_t(index)] = items[index].createdAt.toMSecsSinceEpoch();
    }
    return times;
}

// Newest first; of two items of the same moment the one listed first comes first.
struct NewerFirst {
    const std::vector<qint64>& times;
    bool operator()(qsizetype left, qsizetype right) const {
        const qint64 leftTime = times[size_t(left)];
        const qint64 rightTime = times[size_t(right)];
        return leftTime != rightTime ? leftTime > rightTime : left < right;
    }
};

// Dedup keys end in a hexadecimal digest: their last characters are already well mixed,
// so a short hash of those is enough and much cheaper than hashing all 66 characters.
size_t groupKeyHash(QStringView key) {
    size_t hash = 1469598103934665603ull;
    for (const QChar character : key.right(16)) {
        hash = (hash ^ character.unicode()) * 1099511628211ull;
    }
    return hash;
}

// The group of each dedup key, in one open-addressing table sized for every item up front, so
// that filing ten thousand keys allocates once instead of once per key.
class GroupTable {
public:
    explicit GroupTable(qsizetype capacity) {
        size_t size = 16;
        while (size < size_t(capacity) * 2) {
            size *= 2;
        }
        entries.assign(size, Slot{});
        mask = size - 1;
    }

    // The group already holding the key, or `group` after recording it for the key.
    size_t findOrInsert(QStringView key, size_t group) {
        const size_t hash = groupKeyHash(key);
        for (size_t position = hash & mask;; position = (position + 1) & mask) {
            Slot& slot = entries[position];
            if (slot.group == empty) {
                slot = Slot{hash, group, key};
                return group;
            }
            if (slot.hash == hash && slot.key == key) {
                return slot.group;
            }
        }
    }

private:
    static constexpr size_t empty = ~size_t(0);
    struct Slot {
        size_t hash = 0;
        size_t group = empty;
        QStringView key;
    };
    std::vector<Slot> entries;
    size_t mask = 0;
};

} // namespace

// The items are walked in the order given, which is the order they lie in memory: walking them
// newest first would jump across the whole list at every step when the lists of two stores are
// joined, and copying each item would then miss the processor's caches several times over. A
// group's place is that of its newest item, so the finished groups are sorted instead, and moved
// into that order rather than copied.
QList<ClipGroup> ClipStore::groups(QList<ClipItem> items) {
    const qsizetype count = items.size();
    const std::vector<qint64> times = creationTimes(items);
    const NewerFirst newer{times};

    // Per group its newest item and its first; per item the next item of its group, so that
    // members are chained without an allocation per group.
    struct Group {
        qsizetype newest;
        qsizetype first;
        qsizetype last;
    };
    std::vector<Group> groupList;
    groupList.reserve(size_t(count));
    std::vector<qsizetype> nextMember(size_t(count), -1);
    // Keys point into the items, which outlive the table.
    GroupTable groupOfKey(count);
    // Concealed items and items without a key are grouped with nothing but themselves.
    QHash<QUuid, size_t> groupOfUngroupable;
    for (qsizetype index = 0; index < count; ++index) {
        const ClipItem& item = items.at(index);
        const size_t fresh = groupList.size();
        size_t group = fresh;
        if (!item.concealed && !item.dedupKey.isEmpty()) {
            group = groupOfKey.findOrInsert(QStringView(item.dedupKey), fresh);
        } else {
            group = groupOfUngroupable.value(item.id, fresh);
            if (group == fresh) {
                groupOfUngroupable.insert(item.id, fresh);
            }
        }
        if (group == fresh) {
            groupList.push_back(Group{index, index, index});
            continue;
        }
        Group& existing = groupList[group];
        nextMember[size_t(existing.last)] = index;
        existing.last = index;
        if (newer(index, existing.newest)) {
            existing.newest = index;
        }
    }

    std::vector<ClipGroup> made;
    made.reserve(groupList.size());
    std::vector<qsizetype> members;
    for (const Group& group : groupList) {
        ClipGroup& value = made.emplace_back(ClipGroup{items.at(group.newest), {}, false});
        members.clear();
        for (qsizetype member = group.first; member >= 0; member = nextMember[size_t(member)]) {
            members.push_back(member);
        }
        if (members.size() > 1) {
            std::sort(members.begin(), members.end(), newer);
        }
        for (const qsizetype member : members) {
            const ClipItem& item = items.at(member);
            if (!item.deviceID.isEmpty() && !value.originIDs.contains(item.deviceID)) {
                value.originIDs.append(item.deviceID);
            }
            value.anyPinned = value.anyPinned || item.pinned;
        }
    }

    // Sorting keys held side by side, rather than positions that point into the groups, keeps
    // the sort in the caches.
    struct Place {
        qint64 time;
        qsizetype newest;
        size_t group;
    };
    std::vector<Place> places;
    places.reserve(groupList.size());
    for (size_t group = 0; group < groupList.size(); ++group) {
        places.push_back(Place{times[size_t(groupList[group].newest)], groupList[group].newest, group});
    }
    const auto placedFirst = [](const Place& left, const Place& right) {
        return left.time != right.time ? left.time > right.time : left.newest < right.newest;
    };
    // Lists fetched from one store already come newest first.
    if (!std::is_sorted(places.cbegin(), places.cend(), placedFirst)) {
        std::sort(places.begin(), places.end(), placedFirst);
    }
    QList<ClipGroup> result;
    result.reserve(qsizetype(places.size()));
    for (const Place& place : places) {
        result.append(std::move(made[place.group]));
    }
    return result;
}

QList<MacRef> ClipStore::macs(QList<ClipItem> items, const QList<Device>& devices) {
    // A device listed twice (two records made at the same moment by this computer and by sync)
    // keeps the name of its first record that has one.
    QHash<QString, QString> names;
    for (const Device& device : devices) {
        const auto known = names.constFind(device.id);
        if (known == names.constEnd() || known->isEmpty()) {
            names.insert(device.id, device.name);
        }
    }
    // A computer's place is that of its newest item; as in groups, the items are walked in the
    // order given and the computers sorted afterwards.
    const std::vector<qint64> times = creationTimes(items);
    const NewerFirst newer{times};
    QHash<QStringView, qsizetype> newestOfDevice;
    for (qsizetype index = 0; index < items.size(); ++index) {
        const QString& id = items.at(index).deviceID;
        if (id.isEmpty()) {
            continue;
        }
        const auto known = newestOfDevice.find(QStringView(id));
        if (known == newestOfDevice.end()) {
            newestOfDevice.insert(QStringView(id), index);
        } else if (newer(index, *known)) {
            *known = index;
        }
    }
    std::vector<qsizetype> order;
    order.reserve(size_t(newestOfDevice.size()));
    for (const qsizetype index : std::as_const(newestOfDevice)) {
        order.push_back(index);
    }
    std::sort(order.begin(), order.end(), newer);
    QList<MacRef> result;
    result.reserve(qsizetype(order.size()));
    for (const qsizetype index : order) {
        const QString& id = items.at(index).deviceID;
        const auto name = names.constFind(id);
        result.append(MacRef{id, name != names.constEnd() ? *name : QStringLiteral("Computer")});
    }
    return result;
}

} // namespace snipjar
