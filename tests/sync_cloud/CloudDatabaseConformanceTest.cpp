// The rules every cloud database keeps, checked against each implementation.
#include "CloudBackends.h"

#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace snipjar::test {
namespace {

using namespace snipjar::cloud;

class CloudDatabaseConformance : public ::testing::TestWithParam<CloudBackendFactory> {
protected:
    void SetUp() override {
        backend = GetParam().make();
        database = backend(QStringLiteral("alice"));
        ASSERT_TRUE(database->saveZone(historyZone).ok());
    }

    QList<CloudRecord> saveAll(const QList<CloudRecord>& records) {
        return test::saveAll(*database, records);
    }

    CloudBackend backend;
    std::unique_ptr<CloudDatabase> database;
};

TEST_P(CloudDatabaseConformance, ChangeTagsDecideWhichSavesAreTakenOneByOne) {
    const CloudRecord first = saveAll({textRecord("clip-1", "one")}).value(0);
    // No tag for a record that exists: refused, with the server's version.
    auto outcome = database->modifyRecords({textRecord("clip-1", "other")}, {});
    ASSERT_TRUE(outcome.ok());
    ASSERT_EQ(outcome.value().failedSaves.size(), 1);
    const CloudError& noTag = outcome.value().failedSaves[0].second;
    EXPECT_EQ(noTag.code, CloudErrorCode::serverRecordChanged);
    ASSERT_TRUE(noTag.serverRecord.has_value());
    EXPECT_EQ(noTag.serverRecord->string("text"), QString("one"));
    EXPECT_EQ(noTag.serverRecord->changeTag(), first.changeTag());
    // The current tag: taken, with a new tag; the old one is stale from then on.
    CloudRecord update = first;
    update.setValue("text", QString("two"));
    const CloudRecord second = saveAll({update}).value(0);
    EXPECT_NE(second.changeTag(), first.changeTag());
    CloudRecord stale = first;
    stale.setValue("text", QString("three"));
    outcome = database->modifyRecords({stale}, {});
    ASSERT_TRUE(outcome.ok());
    ASSERT_EQ(outcome.value().failedSaves.size(), 1);
    EXPECT_EQ(outcome.value().failedSaves[0].second.code, CloudErrorCode::serverRecordChanged);
    ASSERT_TRUE(outcome.value().failedSaves[0].second.serverRecord.has_value());
    EXPECT_EQ(outcome.value().failedSaves[0].second.serverRecord->string("text"), QString("two"));
    // Deleted: a tagged save and a second delete find nothing; an untagged save creates it anew.
    outcome = database->modifyRecords({}, {second.recordID()});
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(outcome.value().deleted, QList<RecordID>{second.recordID()});
    outcome = database->modifyRecords({second}, {second.recordID(), RecordID{"clip-never", historyZone}});
    ASSERT_TRUE(outcome.ok());
    ASSERT_EQ(outcome.value().failedSaves.size(), 1);
    EXPECT_EQ(outcome.value().failedSaves[0].second.code, CloudErrorCode::unknownItem);
    ASSERT_EQ(outcome.value().failedDeletes.size(), 2);
    EXPECT_EQ(outcome.value().failedDeletes[0].second.code, CloudErrorCode::unknownItem);
    EXPECT_EQ(outcome.value().failedDeletes[1].second.code, CloudErrorCode::unknownItem);
    EXPECT_EQ(saveAll({textRecord("clip-1", "again")}).size(), 1);
    // One refused record does not stop the others.
    const CloudRecord existing = saveAll({textRecord("clip-a", "a")}).value(0);
    outcome = database->modifyRecords(
        {textRecord("clip-b", "b"), textRecord("clip-a", "no tag"), textRecord("clip-c", "c")},
        {RecordID{"clip-missing", historyZone}, existing.recordID()});
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(namesOf(outcome.value().saved), (QSet<QString>{"clip-b", "clip-c"}));
    ASSERT_EQ(outcome.value().failedSaves.size(), 1);
    EXPECT_EQ(outcome.value().failedSaves[0].first.string("text"), QString("no tag"));
    EXPECT_EQ(outcome.value().deleted, QList<RecordID>{existing.recordID()});
    const auto all = fetchAll(*database, std::nullopt);
    EXPECT_EQ(namesOf(all.modifications), (QSet<QString>{"clip-1", "clip-b", "clip-c"}));
}

TEST_P(CloudDatabaseConformance, DeletingATargetDeletesItsDeleteSelfReferrersTransitively) {
    CloudRecord item = textRecord("clip-1", "item");
    CloudRecord payload("ClipPayload", RecordID{"pay-1", historyZone});
    payload.setValue("item", RecordReference{item.recordID(), RecordReference::Action::deleteSelf});
    CloudRecord detail("ClipPayload", RecordID{"pay-1-detail", historyZone});
    detail.setValue("payload", RecordReference{payload.recordID(), RecordReference::Action::deleteSelf});
    CloudRecord mention = textRecord("clip-2", "mentions the first");
    mention.setValue("related", RecordReference{item.recordID(), RecordReference::Action::none});
    saveAll({item, payload, detail, mention});
    const ChangeToken before = fetchAll(*database, std::nullopt).token;
    auto outcome = database->modifyRecords({}, {item.recordID()});
    ASSERT_TRUE(outcome.ok());
    const auto changes = fetchAll(*database, before);
    EXPECT_TRUE(changes.modifications.isEmpty());
    EXPECT_EQ(namesOf(changes.deletions), (QSet<QString>{"clip-1", "pay-1", "pay-1-detail"}));
    EXPECT_EQ(changes.deletions.size(), 3);
    for (const auto& deletion : changes.deletions) {
        EXPECT_EQ(deletion.recordType,
                  deletion.id.recordName.startsWith("pay-") ? "ClipPayload" : "ClipItem");
    }
    const auto live = fetchAll(*database, std::nullopt);
    EXPECT_EQ(namesOf(live.modifications), QSet<QString>{"clip-2"});
}

TEST_P(CloudDatabaseConformance, FetchesPageChangesOldestFirstWithEachRecordOnce) {
    QList<CloudRecord> records;
    for (int i = 0; i < 450; ++i) {
        records.append(textRecord(QStringLiteral("clip-%1").arg(i), QStringLiteral("text %1").arg(i)));
    }
    const QList<CloudRecord> saved = saveAll(records);
    ASSERT_EQ(saved.size(), 450);
    const auto everything = fetchAll(*database, std::nullopt);
    EXPECT_GE(everything.pages, 3);
    ASSERT_EQ(everything.modifications.size(), 450);
    EXPECT_EQ(namesOf(everything.modifications).size(), 450);
    EXPECT_EQ(everything.modifications.first().recordName(), "clip-0");
    EXPECT_EQ(everything.modifications.last().recordName(), "clip-449");
    // Changed twice, changed once, deleted: each record once, in its newest state.
    CloudRecord twice = saved[10];
    twice.setValue("text", QString("changed"));
    twice = saveAll({twice}).value(0);
    twice.setValue("text", QString("changed again"));
    saveAll({twice, saved[20]});
    ASSERT_TRUE(database->modifyRecords({}, {saved[30].recordID()}).ok());
    const auto changes = fetchAll(*database, everything.token);
    ASSERT_EQ(namesOf(changes.modifications), (QSet<QString>{"clip-10", "clip-20"}));
    EXPECT_EQ(changes.modifications.size(), 2);
    for (const auto& record : changes.modifications) {
        EXPECT_EQ(record.string("text"),
                  record.recordName() == "clip-10" ? QString("changed again") : "text 20");
    }
    EXPECT_EQ(namesOf(changes.deletions), QSet<QString>{"clip-30"});
    // Nothing new: an empty page and the same position.
    const auto nothing = fetchAll(*database, changes.token);
    EXPECT_TRUE(nothing.modifications.isEmpty() && nothing.deletions.isEmpty());
    EXPECT_EQ(nothing.token, changes.token);
}

TEST_P(CloudDatabaseConformance, FieldValuesAndAssetsComeBackAsSaved) {
    QTemporaryDir folder;
    const QByteArray imageBytes = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(300000, '\x7f');
    const QString imagePath = writeFile(folder.filePath("upload.img"), imageBytes);
    CloudRecord record("ClipPayload", RecordID{"pay-7", historyZone});
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
    record.setValue("kind", QString("image"));
    record.setValue("size", qint64(1) << 40);
    record.setValue("copiedAt", when);
    record.setValue("thumbnail", QByteArray("\0\1\2\3", 4));
    record.setValue("image", Asset{imagePath});
    saveAll({record});
    const auto all = fetchAll(*database, std::nullopt);
    ASSERT_EQ(all.modifications.size(), 1);
    const CloudRecord& fetched = all.modifications[0];
    EXPECT_EQ(fetched.recordType(), "ClipPayload");
    EXPECT_EQ(fetched.recordID(), record.recordID());
    EXPECT_EQ(fetched.string("kind"), QString("image"));
    EXPECT_EQ(fetched.integer("size"), qint64(1) << 40);
    EXPECT_EQ(fetched.date("copiedAt"), when);
    EXPECT_EQ(fetched.bytes("thumbnail"), QByteArray("\0\1\2\3", 4));
    EXPECT_EQ(assetBytes(fetched, "image"), imageBytes)
        << "the asset file must exist while the page is handled";
    // A conflict carries the server's record with its asset.
    const auto outcome = database->modifyRecords({record}, {});
    ASSERT_TRUE(outcome.ok());
    ASSERT_EQ(outcome.value().failedSaves.size(), 1);
    const auto& serverRecord = outcome.value().failedSaves[0].second.serverRecord;
    ASSERT_TRUE(serverRecord.has_value());
    EXPECT_EQ(assetBytes(*serverRecord, "image"), imageBytes);
}

TEST_P(CloudDatabaseConformance, AnOwnerSeesOnlyItsOwnRecords) {
    saveAll({textRecord("clip-1", "alice's")});
    const auto bob = backend(QStringLiteral("bob"));
    ASSERT_TRUE(bob->saveZone(historyZone).ok());
    const auto bobs = fetchAll(*bob, std::nullopt);
    EXPECT_TRUE(bobs.modifications.isEmpty());
    // Bob's record of the same name is his own; neither can delete or overwrite the other's.
    EXPECT_EQ(test::saveAll(*bob, {textRecord("clip-1", "bob's")}).size(), 1);
    ASSERT_TRUE(bob->modifyRecords({}, {RecordID{"clip-1", historyZone}}).ok());
    const auto alices = fetchAll(*database, std::nullopt);
    ASSERT_EQ(alices.modifications.size(), 1);
    EXPECT_EQ(alices.modifications[0].string("text"), QString("alice's"));
}

TEST_P(CloudDatabaseConformance, ASubscriptionHearsOfChangesByAnyone) {
    std::atomic<int> notices = 0;
    auto subscription = database->subscribe([&notices] { ++notices; });
    ASSERT_NE(subscription, nullptr);
    const auto other = backend(QStringLiteral("alice"));
    // Each round saves through another instance of the same owner until a notice arrived.
    int seen = notices;
    bool heard = false;
    for (int round = 0; round < 200 && !heard; ++round) {
        ASSERT_TRUE(other->modifyRecords({textRecord(QStringLiteral("clip-%1").arg(round), "x")}, {}).ok());
        for (int wait = 0; wait < 50 && notices == seen; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        heard = notices > seen;
    }
    EXPECT_TRUE(heard);
}

INSTANTIATE_TEST_SUITE_P(Implementations, CloudDatabaseConformance,
                         ::testing::ValuesIn(cloudBackendFactories()),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace snipjar::test
