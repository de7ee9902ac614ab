#include "ClipStoreTestSupport.h"

namespace snipjar::test {
namespace {

class LimitsTest : public StoreTest {
protected:
    // `count` items of this computer, one second apart, the newest one second before now.
    QList<ClipItem> fill(int count, const QString& device = thisMac, qint64 secondsBefore = 1) {
        QList<ClipItem> items;
        const std::unique_ptr<ModelContext> context = store->syncContainer().newContext();
        for (int index = 0; index < count; ++index) {
            ClipItem item = ClipItem::fromClip(text(QStringLiteral("item %1 of %2").arg(index).arg(device)),
                                               std::nullopt, device);
            item.createdAt = clockNow.addSecs(-secondsBefore - (count - index));
            context->insert(item);
            items.append(item);
        }
        EXPECT_TRUE(context->save());
        return items;
    }
    // Stores the value, or removes the key when there is none.
    static void setLimit(const char* key, const std::optional<QVariant>& value) {
        if (value) {
            UserSettings::setValue(QLatin1String(key), *value);
        } else {
            UserSettings::remove(QLatin1String(key));
        }
    }
    bool holds(const QUuid& id) { return store->item(id).has_value(); }
    ClipItem putOwn(const QString& words, qint64 secondsAgo, bool pinned = false) {
        return putItem(store->syncContainer(), text(words), thisMac, clockNow.addSecs(-secondsAgo), pinned);
    }
};

// The history length counts this computer's unpinned items: 1 to 1000 as stored, else 100. The
// insert reports the deletion before the new item.
TEST_F(LimitsTest, HistoryLengthDropsTheOldest) {
    const std::pair<std::optional<QVariant>, int> cases[] = {
        {1000, 1000}, {0, 100}, {1001, 100}, {QStringLiteral("many"), 100}, {std::nullopt, 100}};
    for (const auto& [stored, length] : cases) {
        SCOPED_TRACE(stored.value_or(QStringLiteral("missing")).toString().toStdString());
        open(ClipStore::Location::inMemory);
        setLimit(UserSettings::historyLengthKey, stored);
        const QList<ClipItem> items = fill(length);
        const QList<ClipSyncChange> changes = insertSynced(text(QStringLiteral("newest")));
        ASSERT_EQ(changes.size(), 2);
        EXPECT_EQ(changes[0], ClipSyncChange::remove(items[0].id));
        EXPECT_EQ(changes[1].type, ClipSyncChange::Type::save);
        EXPECT_TRUE(holds(items[1].id));
        EXPECT_EQ(syncItems().size(), length);
    }
}

// Retention: older than the stored days (7 when missing or not positive) goes; pinned items stay.
TEST_F(LimitsTest, RetentionRemovesOldUnpinnedItems) {
    const std::pair<std::optional<QVariant>, qint64> cases[] = {{0, 7}, {std::nullopt, 7}, {1, 1}};
    for (const auto& [stored, days] : cases) {
        open(ClipStore::Location::inMemory);
        setLimit(UserSettings::retentionDaysKey, stored);
        const qint64 retention = days * ClipStore::secondsPerDay;
        const ClipItem expired = putOwn(QStringLiteral("old"), retention + 1);
        const ClipItem pinned = putOwn(QStringLiteral("old pinned"), retention * 10, true);
        const ClipItem fresh = putOwn(QStringLiteral("recent"), retention - 1);
        insertSynced(text(QStringLiteral("now")));
        EXPECT_FALSE(holds(expired.id)) << days;
        EXPECT_TRUE(holds(pinned.id)) << days;
        EXPECT_TRUE(holds(fresh.id)) << days;
    }
}

// Pinned bytes count toward the budget: past it, every older unpinned item goes but no pinned one.
TEST_F(LimitsTest, PinnedItemsOverTheByteBudgetRemoveEveryUnpinnedItem) {
    setLimit(UserSettings::maxStoreBytesKey, 1000);
    const ClipItem pinnedA = putOwn(QString(600, QLatin1Char('a')), 10, true);
    const ClipItem small = putOwn(QStringLiteral("b"), 20);
    const ClipItem pinnedB = putOwn(QString(600, QLatin1Char('c')), 30, true);
    const ClipItem older = putOwn(QStringLiteral("d"), 40);
    const QList<ClipSyncChange> changes = insertSynced(text(QStringLiteral("e")));
    EXPECT_TRUE(holds(small.id));
    EXPECT_FALSE(holds(older.id));
    ASSERT_EQ(changes.size(), 2);
    EXPECT_EQ(changes[0], ClipSyncChange::remove(older.id));

    setLimit(UserSettings::maxStoreBytesKey, 500);
    insertSynced(text(QStringLiteral("f")));
    EXPECT_FALSE(holds(small.id));
    EXPECT_TRUE(holds(pinnedA.id));
    EXPECT_TRUE(holds(pinnedB.id));
    EXPECT_EQ(syncItems().size(), 4);
}

// Each computer prunes only its own items, whatever their number or age.
TEST_F(LimitsTest, OtherComputersItemsAreNeverPruned) {
    setLimit(UserSettings::historyLengthKey, 1);
    setLimit(UserSettings::maxStoreBytesKey, 1);
    const QList<ClipItem> theirs = fill(150, otherMac, 30 * ClipStore::secondsPerDay);
    insertSynced(text(QStringLiteral("mine")));
    for (const ClipItem& item : theirs) {
        ASSERT_TRUE(holds(item.id));
    }
}

// enforceLimitsNow prunes both stores and reports only the sync store's deletions.
TEST_F(LimitsTest, EnforceLimitsNowPrunesBothStores) {
    const ClipItem syncedOld = putOwn(QStringLiteral("a"), 30 * ClipStore::secondsPerDay);
    const ClipItem localOld = putItem(store->localContainer(), text(QStringLiteral("b")), thisMac,
                                      clockNow.addSecs(-30 * ClipStore::secondsPerDay));
    store->enforceLimitsNow();
    EXPECT_FALSE(holds(syncedOld.id));
    EXPECT_FALSE(holds(localOld.id));
    EXPECT_EQ(reported, QList{ClipSyncChange::remove(syncedOld.id)});
}

// The items deleted are the items walked: another connection cannot delete one of them and give
// its row to a new item in between, which would turn the deletion onto the new item.
TEST_F(LimitsTest, DeletionsNameTheItemsWalked) {
    setLimit(UserSettings::historyLengthKey, 1);
    const ClipItem newer = putOwn(QStringLiteral("newer"), 10);
    // Written last, so a row written right after its deletion takes its rowid.
    const ClipItem oldest = putOwn(QStringLiteral("oldest"), 100);
    ClipItem arrival = ClipItem::fromClip(text(QStringLiteral("arrival")), std::nullopt, thisMac);
    arrival.createdAt = clockNow.addSecs(-5);
    std::optional<bool> replacedMeanwhile;
    onStep = [&](ClipStore::FilingStep step, ModelContext& context) {
        if (step == ClipStore::FilingStep::walkedLimits && &context == &store->syncContext()) {
            const std::unique_ptr<ModelContext> other = impatient(store->syncContainer());
            other->removeItem(oldest.id);
            other->insert(arrival);
            replacedMeanwhile = other->save();
        }
    };
    store->enforceLimitsNow();
    EXPECT_EQ(replacedMeanwhile, false);
    EXPECT_EQ(reported, QList{ClipSyncChange::remove(oldest.id)});
    EXPECT_TRUE(holds(newer.id));
    EXPECT_FALSE(holds(oldest.id));
}

} // namespace
} // namespace snipjar::test
