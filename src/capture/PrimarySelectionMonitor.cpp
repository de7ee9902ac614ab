#include "capture/PrimarySelectionMonitor.h"

#include "capture/ClipIngestor.h"
#include "model/Clip.h"
#include "platform/LogCategories.h"
#include "platform/Pasteboard.h"
#include "platform/UserSettings.h"
#include "platform/Workspace.h"

#include <QPointer>

namespace snipjar {

PrimarySelectionMonitor::PrimarySelectionMonitor(Pasteboard& selection, Workspace& workspace,
                                                 ClipIngestor& ingestor, QObject* parent, Timing timing)
    : QObject(parent)
    , selection(selection)
    , workspace(workspace)
    , ingestor(ingestor)
    , timing(timing)
    , seenChangeCount(selection.changeCount())
    , reader(std::make_unique<QObject>()) {
    qRegisterMetaType<CaptureOutcome>();
    pollTimer.setInterval(pollingInterval);
    connect(&pollTimer, &QTimer::timeout, this, &PrimarySelectionMonitor::poll);
    stepTimer.setSingleShot(true);
    stepTimer.setTimerType(Qt::PreciseTimer);
    connect(&stepTimer, &QTimer::timeout, this, &PrimarySelectionMonitor::stepTimerFired);

    // A monitor before this one may have interrupted the selection's reads when it went away.
    selection.resumeReads();
    readerThread.setObjectName(QStringLiteral("snipjar-selection"));
    reader->moveToThread(&readerThread);
    readerThread.start();
}

PrimarySelectionMonitor::~PrimarySelectionMonitor() {
    readerThread.quit();
    selection.interruptReads();
    readerThread.wait();
    reader.reset();
}

void PrimarySelectionMonitor::start() {
    seenChangeCount = selection.changeCount();
    wasButtonHeld = workspace.isMouseButtonHeld();
    // What was selected before recording was switched on is not recorded, also not when a later
    // click makes the monitor look at the selection again.
    read(Purpose::baseline);
    connect(&selection, &Pasteboard::changed, this, &PrimarySelectionMonitor::poll, Qt::UniqueConnection);
    pollTimer.start();
}

void PrimarySelectionMonitor::poll() {
    const bool isButtonHeld = workspace.isMouseButtonHeld();
    const bool wasReleased = wasButtonHeld && !isButtonHeld;
    wasButtonHeld = isButtonHeld;
    const qint64 changeCount = selection.changeCount();
    if (changeCount != seenChangeCount || wasReleased) {
        seenChangeCount = changeCount;
        restart();
    }
}

void PrimarySelectionMonitor::restart() {
    ++generation;
    candidate.reset();
    confirmations = 0;
    stepTimer.start(timing.settle);
}

void PrimarySelectionMonitor::stepTimerFired() {
    if (workspace.isMouseButtonHeld()) {
        // Still dragging; letting go starts the settle time again.
        wasButtonHeld = true;
        return;
    }
    read(Purpose::settle);
}

void PrimarySelectionMonitor::read(Purpose purpose) {
    const ReadRequest request{purpose, generation, selection.changeCount()};
    QPointer<PrimarySelectionMonitor> monitor(this);
    Pasteboard* const source = &selection;
    QMetaObject::invokeMethod(
        reader.get(),
        [monitor, source, request] {
            const SelectedTextRead result = readSelectedText(*source, UserSettings::maxCaptureRepBytes());
            // The monitor joins this thread before it goes away; the QPointer catches a monitor
            // deleted before the result is delivered.
            QMetaObject::invokeMethod(
                monitor.data(),
                [monitor, request, result] {
                    if (monitor) {
                        monitor->apply(request, result);
                    }
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void PrimarySelectionMonitor::apply(const ReadRequest& request, const SelectedTextRead& result) {
    emit selectionRead(result.outcome);
    if (request.generation != generation || selection.changeCount() != request.changeCount) {
        // Overtaken: the selection changed hands (the poll restarts) or a restart came in between.
        return;
    }
    if (result.outcome != CaptureOutcome::captured || !result.text) {
        candidate.reset();
        return;
    }
    const QString& text = *result.text;
    if (request.purpose == Purpose::baseline) {
        knownChangeCount = request.changeCount;
        knownText = text;
        return;
    }
    if (!candidate) {
        if (request.changeCount == knownChangeCount && text == knownText) {
            // A click that selected nothing new.
            return;
        }
        candidate = text;
        stepTimer.start(timing.confirm);
        return;
    }
    if (*candidate != text) {
        if (++confirmations >= maxConfirmations) {
            qCDebug(lcCapture) << "Selected text keeps changing; not recorded";
            candidate.reset();
            return;
        }
        candidate = text;
        stepTimer.start(timing.confirm);
        return;
    }
    candidate.reset();
    record(text, request.changeCount);
}

void PrimarySelectionMonitor::record(const QString& text, qint64 changeCount) {
    knownChangeCount = changeCount;
    knownText = text;
    if (isPaused) {
        qCDebug(lcCapture) << "Recording is paused; the selected text is not recorded";
        return;
    }
    Clip clip;
    clip.kind = Clip::Kind::text;
    clip.plainText = text;
    if (const std::optional<RunningApplication> application = workspace.frontmostApplication()) {
        if (!application->bundleID.isEmpty()) {
            clip.sourceBundleID = application->bundleID;
        }
        if (!application->name.isEmpty()) {
            clip.sourceName = application->name;
        }
    }
    qCDebug(lcCapture) << "Recording selected text of" << text.size() << "characters";
    ingestor.ingest(std::move(clip));
    emit textRecorded(text);
}

} // namespace snipjar
