#include "sync/SyncEngineStateStore.h"
#include "SyncTestSupport.h"
#include "platform/AppIdentity.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace snipjar::test {
namespace {

using sync::StateSerialization;
using sync::SyncEngineStateStore;

StateSerialization stateNumber(int number) {
    QJsonObject data;
    data.insert("number", number);
    // Enough bytes that a torn write would be seen.
    data.insert("pending", QString(4096, QLatin1Char('a' + number % 26)));
    return StateSerialization{data};
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

class SyncEngineStateStoreTest : public ::testing::Test {
protected:
    TestEnvironment environment;
    QString path = environment.path("state/nested/" + SyncEngineStateStore::fileName);
};

// Missing, empty and undecodable files start cold; a save that cannot be written is only logged.
TEST_F(SyncEngineStateStoreTest, BadFilesStartColdAndFailedSavesAreAbsorbed) {
    SyncLog log;
    SyncEngineStateStore store(path);
    EXPECT_FALSE(store.load());
    writeFile(path, {});
    EXPECT_FALSE(store.load());
    EXPECT_TRUE(log.messages().isEmpty()) << log.messages().join(QLatin1Char('\n')).toStdString();
    writeFile(path, "{\"pending\": [1, 2");
    EXPECT_FALSE(store.load());
    ASSERT_EQ(log.messages().size(), 1);
    EXPECT_TRUE(log.messages().first().startsWith("error state file undecodable ("));
    EXPECT_TRUE(log.messages().first().endsWith(") — cold-bootstrapping"));
    // The bad file stays until a save replaces it.
    EXPECT_TRUE(QFile::exists(path));
    writeFile(environment.path("blocker"), "not a folder");
    SyncEngineStateStore blocked(environment.path("blocker/" + SyncEngineStateStore::fileName));
    blocked.save(stateNumber(1));
    blocked.waitForSaves();
    EXPECT_EQ(log.count("error state save failed: "), 1);
}

TEST_F(SyncEngineStateStoreTest, StandardRetiresTheVersionOneFileAndKeepsDebugApart) {
    const QString release = AppPaths::storeFolder();
    writeFile(release + "/sync-engine-state.v1.json", "{}");
    writeFile(release + "/sync-engine-state.v2.json", "{\"kept\":true}");
    AppIdentity::overrideDebug(true);
    const QString debug = AppPaths::storeFolder();
    writeFile(debug + "/sync-engine-state.v1.json", "{}");
    const std::unique_ptr<SyncEngineStateStore> debugStore = SyncEngineStateStore::standard();
    AppIdentity::clearOverride();
    EXPECT_EQ(debugStore->filePath(), debug + "/sync-engine-state.v2.json");
    EXPECT_FALSE(QFile::exists(debug + "/sync-engine-state.v1.json"));
    // The release folder is not touched by a debug build.
    EXPECT_TRUE(QFile::exists(release + "/sync-engine-state.v1.json"));
    const std::unique_ptr<SyncEngineStateStore> store = SyncEngineStateStore::standard();
    EXPECT_EQ(store->filePath(), release + "/sync-engine-state.v2.json");
    EXPECT_FALSE(QFile::exists(release + "/sync-engine-state.v1.json"));
    ASSERT_TRUE(store->load());
    EXPECT_EQ(store->load()->data.value("kept"), true);
}

// Saves from several threads, each numbered in the order save() was called: whoever finishes
// writing first, the file (private, in a private folder made for it) only ever moves forward, is
// never torn, and ends with the last save; a save still queued when the store goes is written.
TEST_F(SyncEngineStateStoreTest, TheNewestOfManyConcurrentSavesWins) {
    std::optional<SyncEngineStateStore> store(path);
    std::mutex order;
    int next = 0;
    std::atomic<bool> writing{true};
    std::atomic<int> tornReads{0};
    std::atomic<int> backwardSteps{0};
    std::thread reader([&] {
        int seen = -1;
        while (writing.load()) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) {
                continue;
            }
            const auto state = StateSerialization::fromJson(file.readAll());
            if (!state) {
                ++tornReads;
                continue;
            }
            const int number = state->data.value("number").toInt();
            if (number < seen) {
                ++backwardSteps;
            }
            seen = number;
        }
    });
    std::vector<std::thread> savers;
    for (int thread = 0; thread < 4; ++thread) {
        savers.emplace_back([&] {
            for (int round = 0; round < 100; ++round) {
                std::lock_guard lock(order);
                store->save(stateNumber(next++));
            }
        });
    }
    for (std::thread& saver : savers) {
        saver.join();
    }
    store->waitForSaves();
    writing = false;
    reader.join();
    EXPECT_EQ(store->load(), stateNumber(399));
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(modeOf(QFileInfo(path).absolutePath()), 0700u);
    EXPECT_EQ(tornReads.load(), 0);
    EXPECT_EQ(backwardSteps.load(), 0);
    // No temporary file is left beside the state.
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden),
              QStringList{SyncEngineStateStore::fileName});
    store->save(stateNumber(400));
    store.reset();
    EXPECT_EQ(SyncEngineStateStore(path).load(), stateNumber(400));
}

} // namespace
} // namespace snipjar::test
