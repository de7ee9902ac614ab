#pragma once

#include "TestEnvironment.h"
#include "platform/AppPaths.h"
#include "platform/PrivateFiles.h"
#include "platform/UserSettings.h"
#include "store/ClipStore.h"
#include "store/StoreConnection.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <memory>

#include <sys/stat.h>

namespace snipjar::test {

inline const QString thisMac = QStringLiteral("THIS-MAC");
inline const QString otherMac = QStringLiteral("OTHER-MAC");

// The write lock of a store file, taken by a connection of its own as another process would; it
// goes with the connection.
inline std::unique_ptr<StoreConnection> holdWriteLock(const QString& file) {
    auto connection = StoreConnection::open(file, StoreConnection::Access::readWrite);
    EXPECT_TRUE(connection && connection->exec("BEGIN IMMEDIATE"));
    return connection;
}

inline mode_t modeOf(const QString& path) {
    struct stat status {};
    ::stat(QFile::encodeName(path).constData(), &status);
    return status.st_mode & 07777;
}

// A store on real SQLite files in a temporary data folder, with this computer's identifier and
// the clock under the test's control, recording every change it reports.
class StoreTest : public ::testing::Test {
protected:
    void open(ClipStore::Location location = ClipStore::Location::onDisk) {
        store.reset();
        const auto step = [this](ClipStore::FilingStep step, ModelContext& context) {
            return onStep ? onStep(step, context) : void();
        };
        store = std::make_unique<ClipStore>(location,
                                            ClipStore::Options{thisMac, [this] { return clockNow; }, step});
        store->onSyncChange = [this](const ClipSyncChange& change) { reported.append(change); };
    }

    void SetUp() override { open(); }

    QList<ClipSyncChange> insertSynced(const Clip& clip) {
        const std::unique_ptr<ModelContext> context = store->syncContainer().newContext();
        return store->insert(clip, *context);
    }
    QList<ClipSyncChange> insertLocal(const Clip& clip) {
        const std::unique_ptr<ModelContext> context = store->localContainer().newContext();
        return store->insert(clip, *context);
    }
    // The id of the item a single insert filed.
    QUuid fileSynced(const Clip& clip) { return insertSynced(clip).constLast().id; }

    // An item as it arrives from another computer through sync: written straight into the store.
    ClipItem putItem(ModelContainer& container, const Clip& clip, const QString& device,
                     const QDateTime& createdAt, bool pinned = false) {
        ClipItem item = ClipItem::fromClip(clip, std::nullopt, device);
        item.createdAt = createdAt;
        item.pinned = pinned;
        const std::unique_ptr<ModelContext> context = container.newContext();
        context->insert(item);
        EXPECT_TRUE(context->save());
        return item;
    }

    // A context that gives up at once when another connection holds the write lock.
    static std::unique_ptr<ModelContext> impatient(ModelContainer& container) {
        std::unique_ptr<ModelContext> context = container.newContext();
        context->setBusyTimeout(20);
        return context;
    }

    QList<ClipItem> syncItems() { return ClipStore::allItems(store->syncContext()); }
    QList<ClipItem> localItems() { return ClipStore::allItems(store->localContext()); }

    void advance(qint64 seconds) { clockNow = clockNow.addSecs(seconds); }

    static Clip text(const QString& words, const QString& sourceName = QStringLiteral("Editor")) {
        Clip clip;
        clip.kind = Clip::Kind::text;
        clip.plainText = words;
        clip.sourceBundleID = QStringLiteral("org.example.") + sourceName;
        clip.sourceName = sourceName;
        return clip;
    }
    static Clip image(const QByteArray& bytes, const std::optional<QString>& dataUTI) {
        Clip clip;
        clip.kind = Clip::Kind::image;
        clip.imageData = bytes;
        clip.dataUTI = dataUTI;
        return clip;
    }
    // Bytes that do not decode as any image, of a given size.
    static QByteArray noise(qsizetype size, char seed = 'a') {
        QByteArray bytes(size, Qt::Uninitialized);
        for (qsizetype index = 0; index < size; ++index) {
            bytes[index] = char(seed + (index * 7919) % 23);
        }
        return bytes;
    }

    static QString storeFolder() { return AppPaths::storeFolder(); }
    static QString syncFile() { return storeFolder() + QLatin1Char('/') + ClipStore::syncStoreName; }
    static QString localFile() { return storeFolder() + QLatin1Char('/') + ClipStore::localStoreName; }
    static QStringList blobFiles(const QString& storeFile) {
        return QDir(storeFile + QStringLiteral("-blobs")).entryList(QDir::Files | QDir::Hidden);
    }

    TestEnvironment environment;
    QDateTime clockNow = QDateTime(QDate(2025, 3, 10), QTime(12, 0), Qt::UTC);
    std::unique_ptr<ClipStore> store;
    QList<ClipSyncChange> reported;
    // Runs at the steps of every insert and limits pass of the store.
    std::function<void(ClipStore::FilingStep, ModelContext&)> onStep;
};

} // namespace snipjar::test
