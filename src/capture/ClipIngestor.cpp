#include "capture/ClipIngestor.h"

#include "image/ImageTranscode.h"
#include "platform/MemoryRelief.h"

#include <QTimer>

namespace snipjar {

ClipIngestor::ClipIngestor(ClipStore& store, QObject* parent)
    : QObject(parent)
    , store(store)
    , worker(std::make_unique<QObject>())
    , transcoder(std::make_unique<QObject>()) {
    qRegisterMetaType<QList<ClipSyncChange>>();
    thread.setObjectName(QStringLiteral("snipjar-ingest"));
    worker->moveToThread(&thread);
    thread.start();
    transcodeThread.setObjectName(QStringLiteral("snipjar-transcode"));
    transcoder->moveToThread(&transcodeThread);
    transcodeThread.start(QThread::LowPriority);
}

ClipIngestor::~ClipIngestor() {
    fileQueuedAndStop();
}

void ClipIngestor::fileQueuedAndStop() {
    if (!transcoder) {
        return;
    }
    // Quitting must not lose a copy: every clip still queued is filed before the threads end. The
    // transcoder goes first and finishes the image it is working on, which it hands to the worker;
    // images queued behind it would take minutes each and are given up. An empty job queued last
    // on the worker returns once everything before it is filed.
    transcodeThread.quit();
    transcodeThread.wait();
    transcoder.reset();
    QMetaObject::invokeMethod(
        worker.get(), [] {}, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}

void ClipIngestor::ingest(Clip clip) {
    QMetaObject::invokeMethod(
        worker.get(), [this, clip = std::move(clip)] { file(clip); }, Qt::QueuedConnection);
}

void ClipIngestor::ingestTranscoded(QByteArray bytes, std::optional<QString> sourceBundleID,
                                    std::optional<QString> sourceName,
                                    std::optional<QString> sourceURLString) {
    QMetaObject::invokeMethod(
        transcoder.get(),
        [this, copiedAt = store.now(), bytes = std::move(bytes), sourceBundleID = std::move(sourceBundleID),
         sourceName = std::move(sourceName), sourceURLString = std::move(sourceURLString)]() mutable {
            std::optional<ImageTranscode::Transcoded> transcoded =
                ImageTranscode::transcode(bytes, transcodeTargetBytes, true);
            bytes = QByteArray();
            if (!transcoded) {
                finishJob({}, false);
                return;
            }
            Clip clip;
            clip.kind = Clip::Kind::image;
            clip.imageData = std::move(transcoded->bytes);
            clip.dataUTI = std::move(transcoded->dataUTI);
            clip.sourceBundleID = std::move(sourceBundleID);
            clip.sourceName = std::move(sourceName);
            clip.sourceURLString = std::move(sourceURLString);
            QMetaObject::invokeMethod(
                worker.get(), [this, clip = std::move(clip), copiedAt] { file(clip, copiedAt); },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void ClipIngestor::file(const Clip& clip, const std::optional<QDateTime>& copiedAt) {
    const bool localOnly = clip.isLocalOnly();
    QList<ClipSyncChange> changes;
    {
        ModelContainer& container = localOnly ? store.localContainer() : store.syncContainer();
        std::unique_ptr<ModelContext> context = container.newContext();
        changes = store.insert(clip, *context, copiedAt);
    }
    // Large clipboard buffers were held briefly; hand the memory back now and
    // once more after everything that still referred to them is certainly gone.
    MemoryRelief::now();
    QTimer::singleShot(memoryReliefDelay, worker.get(), [] { MemoryRelief::now(); });
    finishJob(changes, !localOnly);
}

void ClipIngestor::finishJob(const QList<ClipSyncChange>& changes, bool forwardToSync) {
    // Runs on the main thread; the ingestor outlives the worker thread, so the
    // call cannot outlive it either.
    QMetaObject::invokeMethod(
        this,
        [this, changes, forwardToSync] {
            if (forwardToSync) {
                for (const ClipSyncChange& change : changes) {
                    if (store.onSyncChange) {
                        store.onSyncChange(change);
                    }
                }
            }
            emit jobFinished(changes);
        },
        Qt::QueuedConnection);
}

} // namespace snipjar
