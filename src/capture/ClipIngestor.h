#pragma once

#include "model/Clip.h"
#include "platform/DesktopNotifier.h"
#include "store/ClipStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>

namespace snipjar {

// Files captured clips into the history store off the main thread. One worker
// thread handles the clips one at a time, in the order they were handed over,
// each with a fresh store context on the container its local-only rule chooses.
// Large images are transcoded first on a thread of their own, one at a time, so
// that a transcode of a minute or two never holds up the copies made meanwhile;
// a transcoded image is filed under the time it was copied, so that it takes
// its place in the history among them. The ingestor itself is used on the main
// thread; the sync store's changes are forwarded to the store's onSyncChange on
// the main thread.
//
// A clip the store cannot save (a full disk, an I/O error, a store that stays busy) is held in
// memory, in copy order and within a bound, and filed under the time it was copied once the store
// takes writes again: at the next copy or at the next retry, whichever comes first. The user is
// told once when filing stops, through the notifier given, not once per copy.
class ClipIngestor : public QObject {
    Q_OBJECT
public:
    // Byte target of the transcode of an image too large to store as it was read.
    static constexpr qint64 transcodeTargetBytes = 50'000'000;
    // The second memory relief after each ingest, once large buffers are
    // certainly released.
    static constexpr std::chrono::milliseconds memoryReliefDelay{3000};
    // Clips held while the store refuses writes: past either bound the oldest are given up.
    static constexpr qsizetype heldClipsLimit = 500;
    static constexpr qint64 heldBytesLimit = 200'000'000;
    static constexpr std::chrono::milliseconds heldRetryInterval{30'000};

    // The store must outlive the ingestor.
    explicit ClipIngestor(ClipStore& store, QObject* parent = nullptr);
    // Files every queued clip and the image being transcoded, then joins the
    // threads; images still waiting for a transcode are given up.
    ~ClipIngestor() override;

    ClipIngestor(const ClipIngestor&) = delete;
    ClipIngestor& operator=(const ClipIngestor&) = delete;

    // Files every queued clip and the image being transcoded, then ends the threads; what is
    // queued afterwards is not filed. For a process about to end without unwinding (an exit
    // handler), where the destructor would never run.
    void fileQueuedAndStop();

    // Where the user is told that filing stopped; it must outlive the ingestor. Main thread.
    void reportFailuresTo(DesktopNotifier& notifier) { failureNotifier = &notifier; }
    // How often held clips are tried again when nothing is copied meanwhile (for tests).
    void setHeldRetryInterval(std::chrono::milliseconds interval);

    // Queues a clip for filing; returns at once.
    void ingest(Clip clip);
    // Queues an image to be transcoded to HEIC and filed; nothing is filed when
    // the transcode fails.
    void ingestTranscoded(QByteArray bytes, std::optional<QString> sourceBundleID,
                          std::optional<QString> sourceName, std::optional<QString> sourceURLString);

signals:
    // Emitted on the main thread when a queued job is done, with the changes the
    // store's insert reported (empty when nothing was filed). Lets callers follow
    // the filing without waiting on it. A clip held while the store refuses writes
    // finishes its job when it is filed at last, or given up.
    void jobFinished(const QList<snipjar::ClipSyncChange>& changes);
    // Emitted on the main thread when filing stops (a clip had to be held) and when
    // every held clip has been filed.
    void filingStopped();
    void filingResumed();

private:
    struct Held {
        Clip clip;
        QDateTime copiedAt;
    };

    // Worker thread: holds the clip behind any held before it and files as many as the store
    // takes, in order.
    void file(Clip clip, const QDateTime& copiedAt);
    void fileHeld();
    void giveUpOldestHeld();
    void finishJob(const QList<ClipSyncChange>& changes, bool forwardToSync);
    // Main thread.
    void reportStopped();

    ClipStore& store;
    DesktopNotifier* failureNotifier = nullptr;
    // Worker thread.
    std::deque<Held> held;
    qint64 heldBytes = 0;
    bool stopped = false;
    std::atomic<qint64> retryMilliseconds{heldRetryInterval.count()};
    std::unique_ptr<QTimer> retryTimer;
    QThread thread;
    // The worker thread's context object: jobs and the delayed memory relief run
    // through it.
    std::unique_ptr<QObject> worker;
    QThread transcodeThread;
    std::unique_ptr<QObject> transcoder;
};

} // namespace snipjar
