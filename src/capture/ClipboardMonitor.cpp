#include "capture/ClipboardMonitor.h"

#include "capture/ChangePoller.h"

#include "platform/LogCategories.h"
#include "platform/Pasteboard.h"
#include "platform/PasteboardChangeTracking.h"
#include "platform/Workspace.h"
#include "store/ClipStore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>

namespace snipjar {

ClipboardMonitor::ClipboardMonitor(ClipStore& store, Pasteboard& pasteboard, Workspace& workspace,
                                   QObject* parent, CaptureLimits limits)
    : QObject(parent)
    , store(store)
    , pasteboard(pasteboard)
    , workspace(workspace)
    , limits(limits)
    , clipIngestor(std::make_unique<ClipIngestor>(store))
    , lastSeenChangeCount(pasteboard.changeCount())
    , reader(std::make_unique<QObject>()) {
    qRegisterMetaType<CaptureOutcome>();
    retryTimer.setSingleShot(true);
    retryTimer.setTimerType(Qt::PreciseTimer);
    connect(&retryTimer, &QTimer::timeout, this, &ClipboardMonitor::retryFired);

    // A monitor before this one may have interrupted the clipboard's reads when it went away.
    pasteboard.resumeReads();
    readerThread.setObjectName(QStringLiteral("snipjar-capture"));
    reader->moveToThread(&readerThread);
    readerThread.start();
}

ClipboardMonitor::~ClipboardMonitor() {
    poller.reset();
    // Captures not yet started are dropped; one in progress is cut short, whatever its owner's
    // pace, and its result goes unapplied.
    readerThread.quit();
    pasteboard.interruptReads();
    readerThread.wait();
    reader.reset();
}

void ClipboardMonitor::start() {
    // What is on the clipboard at launch becomes the newest clip (the store
    // de-duplicates it).
    capture({CaptureOrigin::start, pasteboard.changeCount(), 0});
    lastSeenChangeCount = pasteboard.changeCount();

    // The poll catches a change whose notice went missing. It runs off the GUI thread, which it
    // wakes only when the count moved, so an idle application stays asleep between copies.
    const QPointer<ClipboardMonitor> self(this);
    Pasteboard* const clipboard = &pasteboard;
    poller = std::make_unique<ChangePoller>(
        pollingInterval, [clipboard] { return static_cast<long long>(clipboard->changeCount()); },
        [this, self] {
            // The monitor stops the poller before it goes, so it exists while this is posted.
            QMetaObject::invokeMethod(
                this,
                [self] {
                    if (self) {
                        self->tick();
                    }
                },
                Qt::QueuedConnection);
        });
    connect(&pasteboard, &Pasteboard::changed, this, &ClipboardMonitor::tick, Qt::UniqueConnection);
}

void ClipboardMonitor::applyFinishedCapture(std::chrono::milliseconds grace) {
    poller.reset();
    readerThread.quit();
    if (!readerThread.wait(QDeadlineTimer(grace))) {
        pasteboard.interruptReads();
        readerThread.wait();
    }
    // The reader posts each result to this object; only those are delivered here, not the rest of
    // the main thread's events (among them the one in which Qt would end the process).
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void ClipboardMonitor::tick() {
    const qint64 changeCount = pasteboard.changeCount();
    if (changeCount == lastSeenChangeCount) {
        return;
    }
    lastSeenChangeCount = changeCount;
    if (isPaused) {
        qCInfo(lcCapture) << "Recording is paused; change" << changeCount << "is not captured";
        return;
    }
    if (changeCount == lastWrittenChangeCount()) {
        // The application's own paste; a pending retry of an earlier change is left
        // alone.
        return;
    }
    capture({CaptureOrigin::tick, changeCount, 0});
}

void ClipboardMonitor::capture(const CaptureRequest& request) {
    if (changesInFlight.contains(request.changeCount)) {
        qCDebug(lcCapture) << "Capture of change" << request.changeCount << "already in progress";
        return;
    }
    changesInFlight.insert(request.changeCount);

    QPointer<ClipboardMonitor> monitor(this);
    Pasteboard* clipboard = &pasteboard;
    const CaptureLimits captureLimits = limits;
    QMetaObject::invokeMethod(
        reader.get(),
        [monitor, clipboard, captureLimits, request] {
            CaptureRead read = readCapture(*clipboard, captureLimits);
            // The monitor joins this thread before it goes away, so it exists while
            // the result is posted; the QPointer catches a monitor deleted before
            // the result is delivered.
            QMetaObject::invokeMethod(
                monitor.data(),
                [monitor, request, read = std::move(read)]() mutable {
                    if (monitor) {
                        monitor->apply(request, std::move(read));
                    }
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void ClipboardMonitor::apply(const CaptureRequest& request, CaptureRead read) {
    changesInFlight.remove(request.changeCount);
    // A capture that was reading when the pause began is dropped too.
    if (isPaused && (read.clip || read.transcode)) {
        read.clip.reset();
        read.transcode.reset();
        read.outcome = CaptureOutcome::skipped;
    }

    if (read.clip || read.transcode) {
        qCDebug(lcCapture) << "Change" << request.changeCount << "captured; filing it";
    }
    if (read.clip) {
        submit(std::move(*read.clip));
    } else if (read.transcode) {
        auto [bundleID, name] = frontmostSource();
        clipIngestor->ingestTranscoded(std::move(read.transcode->bytes), std::move(bundleID), std::move(name),
                                       std::move(read.transcode->sourceURLString));
    }

    switch (request.origin) {
    case CaptureOrigin::start:
        break;
    case CaptureOrigin::tick:
        if (read.outcome == CaptureOutcome::empty) {
            scheduleRetry(request.changeCount);
        } else {
            cancelRetry();
        }
        break;
    case CaptureOrigin::retry:
        retryFinished(request, read.outcome);
        break;
    }
    emit captureFinished(request.changeCount, read.outcome);
}

void ClipboardMonitor::submit(Clip clip) {
    // The source is the application in front when the clip is handed over, also
    // for a retry.
    auto [bundleID, name] = frontmostSource();
    clip.sourceBundleID = std::move(bundleID);
    clip.sourceName = std::move(name);
    clipIngestor->ingest(std::move(clip));
}

std::pair<std::optional<QString>, std::optional<QString>> ClipboardMonitor::frontmostSource() {
    const std::optional<RunningApplication> application = workspace.frontmostApplication();
    if (!application) {
        return {};
    }
    auto nonEmpty = [](const QString& value) -> std::optional<QString> {
        return value.isEmpty() ? std::nullopt : std::optional<QString>(value);
    };
    return {nonEmpty(application->bundleID), nonEmpty(application->name)};
}

void ClipboardMonitor::scheduleRetry(qint64 changeCount) {
    cancelRetry();
    isRetryPending = true;
    retryChangeCount = changeCount;
    retryAttempt = 0;
    retryTimer.start(retryDelays[0]);
}

void ClipboardMonitor::cancelRetry() {
    retryTimer.stop();
    isRetryPending = false;
    ++retryGeneration;
}

void ClipboardMonitor::retryFired() {
    if (!isRetryPending) {
        return;
    }
    // A newer change is the poll's business.
    if (pasteboard.changeCount() != retryChangeCount) {
        isRetryPending = false;
        return;
    }
    capture({CaptureOrigin::retry, retryChangeCount, retryGeneration});
}

void ClipboardMonitor::retryFinished(const CaptureRequest& request, CaptureOutcome outcome) {
    if (!isRetryPending || request.retryGeneration != retryGeneration) {
        return;
    }
    if (outcome == CaptureOutcome::empty && retryAttempt != static_cast<int>(retryDelays.size()) - 1) {
        ++retryAttempt;
        retryTimer.start(retryDelays[static_cast<std::size_t>(retryAttempt)]);
        return;
    }
    isRetryPending = false;
}

} // namespace snipjar
