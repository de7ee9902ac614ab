#include "model/ClipStore.h"

#include <QHash>

#include <algorithm>
#include <functional>
#include <numeric>
#include <unordered_map>
#include <vector>

namespace snipjar {

namespace {

// Positions of the items, newest first; items of the same moment keep their given order.
std::vector<qsizetype> newestFirstOrder(const QList<ClipItem>& items) {
    std::vector<qint64> times(size_t(items.size()));
    for (qsizetype index = 0; index < items.size(); ++index) {
        times[size_t(index)] = items[index].createdAt.toMSecsSinceEpoch();
    }
    std::vector<qsizetype> order(size_t(items.size()));
    std::iota(order.begin(), order.end(), qsizetype(0));
    // Lists fetched from one store already come newest first.
    if (std::is_sorted(times.cbegin(), times.cend(), std::greater<>())) {
        return order;
    }
    std::stable_sort(order.begin(), order.end(), [&times](qsizetype left, qsizetype right) {
        return times[size_t(left)] > times[size_t(right)];
    });
    return order;
}

// Group keys end in a hexadecimal digest or a UUID: their last characters are already well mixed,
// so a short hash of those is enough and much cheaper than hashing all 66 characters.
struct GroupKeyHash {
    size_t operator()(const QString& key) const noexcept {
        size_t hash = 1469598103934665603ull;
        for (const QChar character : QStringView(key).right(16)) {
            hash = (hash ^ character.unicode()) * 1099511628211ull;
        }
        return hash;
    }
};

} // namespace

QList<ClipGroup> ClipStore::groups(QList<ClipItem> items) {
    QList<ClipGroup> result;
    result.reserve(items.size());
    std::unordered_map<QString, qsizetype, GroupKeyHash> groupOfKey;
    groupOfKey.reserve(size_t(items.size()));
    for (const qsizetype index : newestFirstOrder(items)) {
        const ClipItem& item = items.at(index);
        // Concealed items and items without a key are never grouped with anything.
        const bool groupable = !item.concealed && !item.dedupKey.isEmpty();
        const auto [found, isFirst] = groupOfKey.try_emplace(
            groupable ? item.dedupKey
                      : QStringLiteral("u:") + item.id.toString(QUuid::WithoutBraces).toUpper(),
            result.size());
        if (isFirst) {
            QStringList origins;
            if (!item.deviceID.isEmpty()) {
                origins.append(item.deviceID);
            }
            result.append(ClipGroup{item, std::move(origins), item.pinned});
            continue;
        }
        ClipGroup& group = result[found->second];
        if (!item.deviceID.isEmpty() && !group.originIDs.contains(item.deviceID)) {
            group.originIDs.append(item.deviceID);
        }
        group.anyPinned = group.anyPinned || item.pinned;
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
    QList<MacRef> result;
    QSet<QString> seen;
    for (const qsizetype index : newestFirstOrder(items)) {
        const QString& id = items.at(index).deviceID;
        if (id.isEmpty() || seen.contains(id)) {
            continue;
        }
        seen.insert(id);
        const auto name = names.constFind(id);
        result.append(MacRef{id, name != names.constEnd() ? *name : QStringLiteral("Mac")});
    }
    return result;
}

} // namespace snipjar
