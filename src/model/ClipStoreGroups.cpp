#include "model/ClipStore.h"

#include <QHash>

#include <algorithm>
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
    std::stable_sort(order.begin(), order.end(), [&times](qsizetype left, qsizetype right) {
        return times[size_t(left)] > times[size_t(right)];
    });
    return order;
}

} // namespace

QList<ClipGroup> ClipStore::groups(QList<ClipItem> items) {
    QList<ClipGroup> result;
    result.reserve(items.size());
    std::unordered_map<QString, qsizetype> groupOfKey;
    groupOfKey.reserve(size_t(items.size()));
    for (const qsizetype index : newestFirstOrder(items)) {
        const ClipItem& item = items[index];
        // Concealed items and items without a key are never grouped with anything.
        const bool groupable = !item.concealed && !item.dedupKey.isEmpty();
        const auto [found, isFirst] = groupOfKey.try_emplace(
            groupable ? item.dedupKey
                      : QStringLiteral("u:") + item.id.toString(QUuid::WithoutBraces).toUpper(),
            result.size());
        if (isFirst) {
            result.append(ClipGroup{item, {}, item.pinned});
            if (!item.deviceID.isEmpty()) {
                result.last().originIDs.append(item.deviceID);
            }
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
        const QString& id = items[index].deviceID;
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
