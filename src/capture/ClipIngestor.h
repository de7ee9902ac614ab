#pragma once

#include "model/Clip.h"
#include "store/ClipStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QThread>

#include <chrono>
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
class ClipIngestor : public QObject {
    Q_OBJECT
public:
    // Byte target of the transcode of an image too large to store as it was read.
    static constexpr qint64 transcodeTargetBytes = 50'000'000;
    // The second memory relief after each ingest, once large buffers are
    // certainly released.
    static constexpr std::chrono::milliseconds memoryReliefDelay{3000};

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

    // Queues a clip for filing; returns at once.
    void ingest(Clip clip);
    // Queues an image to be transcoded to HEIC and filed; nothing is filed when
    // the transcode fails.
    void ingestTranscoded(QByteArray bytes, std::optional<QString> sourceBundleID,
                          std::optional<QString> sourceName, std::optional<QString> sourceURLString);

signals:
    // Emitted on the main thread when a queued job is done, with the changes the
    // store's insert reported (empty when nothing was filed). Lets callers follow
    // the filing without waiting on it.
    void jobFinished(const QList<snipjar::ClipSyncChange>& changes);

private:
    // Worker thread. `copiedAt` is the time the clip was copied; none for now.
    void file(const Clip& clip, const std::optional<QDateTime>& copiedAt = std::nullopt);
    void finishJob(const QList<ClipSyncChange>& changes, bool forwardToSync);

    ClipStore& store;
    QThread thread;
    // The worker thread's context object: jobs and the delayed memory relief run
    // through it.
    std::unique_ptr<QObject> worker;
    QThread transcodeThread;
    std::unique_ptr<QObject> transcoder;
};

} // namespace snipjar
