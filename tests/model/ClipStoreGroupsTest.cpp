#include "ClipStoreTestSupport.h"

#include <algorithm>
#include <random>

namespace snipjar::test {
namespace {

using GroupsTest = StoreTest;

// Grouping a history depends only on the items' times, not on the order the lists are joined in:
// the joined lists of two stores group exactly like one list fetched newest first.
TEST_F(GroupsTest, GroupsDoNotDependOnTheOrderItemsAreGiven) {
    std::mt19937 random(7);
    const QStringList devices{thisMac, otherMac, QStringLiteral("THIRD"), QString()};
    QList<ClipItem> items;
    for (int index = 0; index < 600; ++index) {
        // About one content in three is copied on more than one computer.
        const int content = int(random() % 400);
        ClipItem item = ClipItem::fromClip(text(QStringLiteral("content %1").arg(content)), std::nullopt,
                                           devices[qsizetype(random() % 4)]);
        item.createdAt = clockNow.addSecs(-index);
        item.pinned = random() % 10 == 0;
        item.concealed = random() % 25 == 0;
        items.append(item);
    }
    const QList<ClipGroup> expected = ClipStore::groups(items);
    EXPECT_LT(expected.size(), items.size());

    QList<ClipItem> shuffled = items;
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    EXPECT_EQ(ClipStore::groups(shuffled), expected);
    EXPECT_EQ(ClipStore::macs(shuffled, {}), ClipStore::macs(items, {}));

    // Newest first means each group stands where its newest item does.
    for (qsizetype index = 1; index < expected.size(); ++index) {
        EXPECT_GT(expected[index - 1].newest.createdAt, expected[index].newest.createdAt);
    }
}

} // namespace
} // namespace snipjar::test
