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
    void setLimit(const char* key, const QVariant& value) {
        UserSettings::setValue(QLatin1String(key), value);
    }
    bool holds(const QUuid& id) { return store->item(id).has_value(); }
};

// The history length counts this computer's unpinned items; 1 to 1000 is used as given, else 100.
TEST_F(LimitsTest, HistoryLengthOfAThousandDropsTheOldest) {
    setLimit(UserSettings::historyLengthKey, 1000);
    const QList<ClipItem> items = fill(1000);
    const QList<ClipSyncChange> changes = insertSynced(text(QStringLiteral("newest")));
    ASSERT_EQ(changes.size(), 2);
    EXPECT_EQ(changes[0], ClipSyncChange::remove(items[0].id));
    EXPECT_EQ(changes[1].type, ClipSyncChange::Type::save);
    EXPECT_FALSE(holds(items[0].id));
    EXPECT_TRUE(holds(items[1].id));
    EXPECT_EQ(syncItems().size(), 1000);
}

TEST_F(LimitsTest, InvalidOrMissingHistoryLengthMeansAHundred) {
    for (const std::optional<QVariant>& stored :
         {std::optional<QVariant>(0), std::optional<QVariant>(1001),
          std::optional<QVariant>(QStringLiteral("many")), std::optional<QVariant>()}) {
        open(ClipStore::Location::inMemory);
        if (stored) {
            setLimit(UserSettings::historyLengthKey, *stored);
        } else {
            UserSettings::remove(QLatin1String(UserSettings::historyLengthKey));
        }
        const QList<ClipItem> items = fill(100);
        insertSynced(text(QStringLiteral("newest")));
        EXPECT_FALSE(holds(items[0].id))
            << stored.value_or(QStringLiteral("missing")).toString().toStdString();
        EXPECT_TRUE(holds(items[1].id));
        EXPECT_EQ(syncItems().size(), 100);
    }
}

// Retention: older than the given days (7 when missing or not positive) goes, pinned items stay.
TEST_F(LimitsTest, RetentionOfSevenDaysWhenMissingOrZero) {
    for (const std::optional<QVariant>& stored : {std::optional<QVariant>(0), std::optional<QVariant>()}) {
        open(ClipStore::Location::inMemory);
        if (stored) {
            setLimit(UserSettings::retentionDaysKey, *stored);
        } else {
            UserSettings::remove(QLatin1String(UserSettings::retentionDaysKey));
        }
        const qint64 week = 7 * ClipStore::secondsPerDay;
        const ClipItem expired = putItem(store->syncContainer(), text(QStringLiteral("old")), thisMac,
                                         clockNow.addSecs(-week - 1));
        const ClipItem pinned = putItem(store->syncContainer(), text(QStringLiteral("old pinned")), thisMac,
                                        clockNow.addSecs(-week * 10), true);
        const ClipItem fresh = putItem(store->syncContainer(), text(QStringLiteral("recent")), thisMac,
                                       clockNow.addSecs(-week + 1));
        insertSynced(text(QStringLiteral("now")));
        EXPECT_FALSE(holds(expired.id));
        EXPECT_TRUE(holds(pinned.id));
        EXPECT_TRUE(holds(fresh.id));
    }
}

TEST_F(LimitsTest, RetentionDaysAsGiven) {
    setLimit(UserSettings::retentionDaysKey, 1);
    const ClipItem old = putItem(store->syncContainer(), text(QStringLiteral("old")), thisMac,
                                 clockNow.addSecs(-ClipStore::secondsPerDay - 1));
    insertSynced(text(QStringLiteral("now")));
    EXPECT_FALSE(holds(old.id));
}

// Pinned bytes count toward the budget: past it, every unpinned item goes but no pinned one.
TEST_F(LimitsTest, PinnedItemsOverTheByteBudgetRemoveEveryUnpinnedItem) {
    setLimit(UserSettings::maxStoreBytesKey, 1000);
    const ClipItem pinnedA = putItem(store->syncContainer(), text(QString(600, QLatin1Char('a'))), thisMac,
                                     clockNow.addSecs(-10), true);
    const ClipItem small =
        putItem(store->syncContainer(), text(QStringLiteral("b")), thisMac, clockNow.addSecs(-20));
    const ClipItem pinnedB = putItem(store->syncContainer(), text(QString(600, QLatin1Char('c'))), thisMac,
                                     clockNow.addSecs(-30), true);
    const ClipItem older =
        putItem(store->syncContainer(), text(QStringLiteral("d")), thisMac, clockNow.addSecs(-40));
    const QList<ClipSyncChange> changes = insertSynced(text(QStringLiteral("e")));

    EXPECT_TRUE(holds(pinnedA.id));
    EXPECT_TRUE(holds(pinnedB.id));
    EXPECT_TRUE(holds(small.id));
    EXPECT_FALSE(holds(older.id));
    ASSERT_EQ(changes.size(), 2);
    EXPECT_EQ(changes[0], ClipSyncChange::remove(older.id));

    // A pinned item alone over the budget takes every older unpinned item with it.
    setLimit(UserSettings::maxStoreBytesKey, 500);
    insertSynced(text(QStringLiteral("f")));
    EXPECT_FALSE(holds(small.id));
    EXPECT_TRUE(holds(pinnedA.id));
    EXPECT_TRUE(holds(pinnedB.id));
    EXPECT_EQ(syncItems().size(), 4);
}

// Each computer prunes only its own items.
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
    const ClipItem syncedOld = putItem(store->syncContainer(), text(QStringLiteral("a")), thisMac,
                                       clockNow.addSecs(-30 * ClipStore::secondsPerDay));
    const ClipItem localOld = putItem(store->localContainer(), text(QStringLiteral("b")), thisMac,
                                      clockNow.addSecs(-30 * ClipStore::secondsPerDay));
    store->enforceLimitsNow();
    EXPECT_FALSE(holds(syncedOld.id));
    EXPECT_FALSE(holds(localOld.id));
    EXPECT_EQ(reported, QList{ClipSyncChange::remove(syncedOld.id)});
}

} // namespace
} // namespace snipjar::test
