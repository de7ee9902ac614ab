#include "capture/ClipIngestor.h"

#include "image/ImageTranscode.h"
#include "platform/LogCategories.h"
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
    // Held clips get a last try; those the store still refuses are lost with the process.
    QMetaObject::invokeMethod(
        worker.get(),
        [this] {
            retryTimer.reset();
            fileHeld();
            if (!held.empty()) {
                qCWarning(lcCapture) << held.size() << "copies not saved: the store still refuses writes";
            }
            held.clear();
            retryTimer.reset();
        },
        Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}

void ClipIngestor::setHeldRetryInterval(std::chrono::milliseconds interval) {
    retryMilliseconds = interval.count();
}

void ClipIngestor::ingest(Clip clip) {
    QMetaObject::invokeMethod(
        worker.get(),
        [this, clip = std::move(clip), copiedAt = store.now()]() mutable { file(std::move(clip), copiedAt); },
        Qt::QueuedConnection);
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
                worker.get(),
                [this, clip = std::move(clip), copiedAt]() mutable { file(std::move(clip), copiedAt); },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void ClipIngestor::file(Clip clip, const QDateTime& copiedAt) {
    heldBytes += clip.byteSize();
    held.push_back({std::move(clip), copiedAt});
    while (held.size() > 1 && (qsizetype(held.size()) > heldClipsLimit || heldBytes > heldBytesLimit)) {
        giveUpOldestHeld();
    }
    fileHeld();
    // Large clipboard buffers were held briefly; hand the memory back now and
    // once more after everything that still referred to them is certainly gone.
    MemoryRelief::now();
    QTimer::singleShot(memoryReliefDelay, worker.get(), [] { MemoryRelief::now(); });
}

void ClipIngestor::fileHeld() {
    while (!held.empty()) {
        const Held& next = held.front();
        const bool localOnly = next.clip.isLocalOnly();
        ClipStore::Filing filing;
        {
            ModelContainer& container = localOnly ? store.localContainer() : store.syncContainer();
            const std::unique_ptr<ModelContext> context = container.newContext();
            filing = store.file(next.clip, *context, next.copiedAt);
        }
        if (filing.outcome == ClipStore::Filing::Outcome::failed) {
            if (!std::exchange(stopped, true)) {
                qCWarning(lcCapture) << "filing stopped: the store refuses writes; copies are held in memory";
                QMetaObject::invokeMethod(this, &ClipIngestor::reportStopped, Qt::QueuedConnection);
            }
            if (!retryTimer) {
                retryTimer = std::make_unique<QTimer>();
                retryTimer->setSingleShot(true);
                connect(retryTimer.get(), &QTimer::timeout, worker.get(), [this] { fileHeld(); });
            }
            retryTimer->start(std::chrono::milliseconds(retryMilliseconds.load()));
            return;
        }
        heldBytes -= next.clip.byteSize();
        held.pop_front();
        finishJob(filing.changes, !localOnly);
    }
    heldBytes = 0;
    if (std::exchange(stopped, false)) {
        qCInfo(lcCapture) << "filing resumed: every held copy is saved";
        QMetaObject::invokeMethod(this, &ClipIngestor::filingResumed, Qt::QueuedConnection);
    }
}

void ClipIngestor::giveUpOldestHeld() {
    qCWarning(lcCapture) << "a held copy is given up: too many copies wait for the store";
    heldBytes -= held.front().clip.byteSize();
    held.pop_front();
    finishJob({}, false);
}

void ClipIngestor::reportStopped() {
    if (failureNotifier) {
        failureNotifier->notify(tr("Snipjar cannot save new copies"),
                                tr("The disk that holds the history is full or failing. New copies are "
                                   "kept in memory and saved by themselves once the disk takes them again."));
    }
    emit filingStopped();
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
