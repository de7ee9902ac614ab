#pragma once

#include "capture/CaptureLimits.h"
#include "capture/CaptureOutcome.h"
#include "capture/CaptureRead.h"
#include "capture/ClipIngestor.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QThread>
#include <QTimer>

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <utility>

namespace snipjar {

class ChangePoller;
class ClipStore;
class Pasteboard;
class Workspace;

// Notices every change of the clipboard and captures it once. The clipboard's
// change count is polled every 0.25 s (and looked at at once when the clipboard
// announces a change); a change made by the application itself is ignored, and
// a change whose contents are not readable yet is tried again a few times.
//
// The monitor lives on the main thread. Reading the clipboard's contents may
// wait for another client, so every capture reads on one reader thread owned by
// the monitor, one capture at a time in the order they were asked for; the
// result is applied on the main thread.
class ClipboardMonitor : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds pollingInterval{250};
    static constexpr std::array<std::chrono::milliseconds, 5> retryDelays{
        std::chrono::milliseconds(25), std::chrono::milliseconds(50), std::chrono::milliseconds(100),
        std::chrono::milliseconds(250), std::chrono::milliseconds(400)};

    // The store, clipboard and workspace must outlive the monitor.
    ClipboardMonitor(ClipStore& store, Pasteboard& pasteboard, Workspace& workspace,
                     QObject* parent = nullptr, CaptureLimits limits = {});
    // Interrupts the clipboard read in progress, joins the reader thread, then the
    // ingestor's.
    ~ClipboardMonitor() override;

    ClipboardMonitor(const ClipboardMonitor&) = delete;
    ClipboardMonitor& operator=(const ClipboardMonitor&) = delete;

    // Captures what is on the clipboard now (no retry), then starts polling.
    void start();
    // For a process about to end without returning to its event loop (the display went away): the
    // capture being read is let finish, within `grace` (then cut short), and its clip handed to the
    // ingestor now instead of from the event loop; nothing is captured afterwards.
    void applyFinishedCapture(std::chrono::milliseconds grace = std::chrono::seconds(2));
    // One poll: captures the clipboard when its change count moved and the change
    // is not the application's own write.
    void tick();

    // While paused, changes are noticed but not captured; a change made during the pause is not
    // captured when it ends either.
    void setPaused(bool paused) { isPaused = paused; }

    qint64 lastChangeCount() const { return lastSeenChangeCount; }
    ClipIngestor& ingestor() { return *clipIngestor; }

signals:
    // Emitted on the main thread when the result of one capture has been applied
    // (the clip handed to the ingestor, the retry scheduled or cancelled).
    void captureFinished(qint64 changeCount, snipjar::CaptureOutcome outcome);

private:
    // Who asked for a capture decides what its outcome leads to.
    enum class CaptureOrigin { start, tick, retry };
    struct CaptureRequest {
        CaptureOrigin origin;
        qint64 changeCount;
        quint64 retryGeneration;
    };

    void capture(const CaptureRequest& request);
    void apply(const CaptureRequest& request, CaptureRead read);
    void submit(Clip clip);
    std::pair<std::optional<QString>, std::optional<QString>> frontmostSource();

    void scheduleRetry(qint64 changeCount);
    void cancelRetry();
    void retryFired();
    void retryFinished(const CaptureRequest& request, CaptureOutcome outcome);

    ClipStore& store;
    Pasteboard& pasteboard;
    Workspace& workspace;
    const CaptureLimits limits;
    std::unique_ptr<ClipIngestor> clipIngestor;

    qint64 lastSeenChangeCount = 0;
    bool isPaused = false;
    std::unique_ptr<ChangePoller> poller;

    // The pending retry of the last change that came out empty. A cancelled retry
    // bumps the generation, so the result of a capture it had already started no
    // longer drives it.
    QTimer retryTimer;
    bool isRetryPending = false;
    qint64 retryChangeCount = 0;
    int retryAttempt = 0;
    quint64 retryGeneration = 0;

    // Change counts whose capture is on the reader thread; a change is never read
    // twice at once.
    QSet<qint64> changesInFlight;

    QThread readerThread;
    // The reader thread's context object.
    std::unique_ptr<QObject> reader;
};

} // namespace snipjar
