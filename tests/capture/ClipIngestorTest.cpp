#include "CaptureTestSupport.h"
#include "TestImages.h"

#include <QThread>

#include <algorithm>

namespace snipjar {
namespace {

using test::textClip;
using test::waitUntil;

// The monitors' store and ingestor, fed directly.
class ClipIngestorTest : public test::MonitorTest {
protected:
    ClipIngestorTest() {
        store.onSyncChange = [this](const ClipSyncChange& change) {
            syncChanges.append(change);
            onMainThread = onMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        };
        QObject::connect(&ingestor, &ClipIngestor::jobFinished,
                         [this](const QList<ClipSyncChange>& changes) { finished.append(changes); });
    }

    // A HEIC encode is slow on a busy machine; the wait is a bound, not a measure.
    void waitForJobs(qsizetype count) {
        ASSERT_TRUE(waitUntil([&] { return finished.size() >= count; }, std::chrono::seconds(60)));
    }

    QList<ClipSyncChange> syncChanges;
    QList<QList<ClipSyncChange>> finished;
    bool onMainThread = true;
};

// Clips are filed one at a time in the order handed over; sync changes reach onSyncChange in that
// order, on the main thread. A local-only clip (a text over 1,000,000 bytes) goes to the local store
// and is never reported.
TEST_F(ClipIngestorTest, FilesInOrderAndForwardsSyncChangesOnTheMainThread) {
    for (const QString& text : {QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("third")}) {
        ingestor.ingest(textClip(text));
    }
    ingestor.ingest(textClip(QString(1'000'001, QLatin1Char('x'))));
    waitForJobs(4);
    ASSERT_EQ(syncChanges.size(), 3);
    EXPECT_TRUE(onMainThread);
    QStringList titles;
    for (const ClipSyncChange& change : syncChanges) {
        EXPECT_EQ(change.type, ClipSyncChange::Type::save);
        EXPECT_TRUE(change.isNew);
        titles << store.item(change.id)->title;
    }
    EXPECT_EQ(titles, (QStringList{"first", "second", "third"}));
    EXPECT_EQ(ClipStore::allItems(store.localContext()).size(), 1);
}

// A transcoded image is filed with its source under the time it was copied: a text copied while it
// is being transcoded is filed at once and stays above it. An image that fails to transcode leaves
// nothing. (That it is stored as HEIC is CaptureX11Test.TranscodesLargeJPEG's.)
TEST_F(ClipIngestorTest, TranscodedImages) {
    ingestor.ingestTranscoded(test::makeImage("jpg", 2400, 1800), QStringLiteral("org.gimp.GIMP"),
                              QStringLiteral("GIMP"), QStringLiteral("https://ex.org/photo.jpg"));
    ingestor.ingestTranscoded(test::notAnImage(), std::nullopt, std::nullopt, std::nullopt);
    // Copied a moment later: times are kept to the millisecond.
    QThread::msleep(5);
    ingestor.ingest(textClip(QStringLiteral("copied meanwhile")));
    waitForJobs(3);
    ASSERT_EQ(finished.at(0).size(), 1);
    EXPECT_EQ(store.item(finished.at(0).front().id)->title, QStringLiteral("copied meanwhile"));
    EXPECT_EQ(std::count_if(finished.cbegin(), finished.cend(),
                            [](const auto& changes) { return changes.isEmpty(); }),
              1);

    ASSERT_EQ(items().size(), 2);
    EXPECT_EQ(items().at(0).title, QStringLiteral("copied meanwhile"));
    EXPECT_EQ(items().at(1).sourceBundleID, QStringLiteral("org.gimp.GIMP"));
}

} // namespace
} // namespace snipjar
