#pragma once

#include "capture/CaptureOutcome.h"
#include "capture/SelectedTextRead.h"

#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <memory>
#include <optional>

namespace snipjar {

class ClipIngestor;
class Pasteboard;
class Workspace;

// Records the text selected with the mouse (the primary selection) once the selection has come to
// rest, as a text clip filed by the clipboard's ingestor with the frontmost application as source.
//
// A selection being dragged changes many times a second, and programs show it in two ways: some
// take the selection anew at every extension (each one an owner change), others keep it and only
// answer with more text. So the selection counts as finished only when
//  - it has not changed hands for the settle time, and no mouse button is held (a button let go
//    also starts the settle time, which catches owners that keep the selection), then
//  - a read and a second read the confirm time later give the same text.
// A text that differs at the second read is read again after another confirm time, up to
// maxConfirmations times. The text is not filed again while the selection keeps the same owner and
// text; a new owner with the same text is filed again (the store de-duplicates it).
//
// The monitor lives on the main thread; reads wait for the selection's owner, so they run on a
// reader thread of the monitor's own.
class PrimarySelectionMonitor : public QObject {
    Q_OBJECT
public:
    struct Timing {
        std::chrono::milliseconds settle;
        std::chrono::milliseconds confirm;
    };
    static constexpr Timing defaultTiming{std::chrono::milliseconds(500), std::chrono::milliseconds(500)};
    // How often the owner changes and the mouse buttons are looked at.
    static constexpr std::chrono::milliseconds pollingInterval{100};
    static constexpr int maxConfirmations = 20;

    // The selection, workspace and ingestor must outlive the monitor. The selection must ask its
    // owner afresh at every capture (X11Pasteboard::setKeepsValuesBetweenCaptures(false)), or a
    // text that grows under one owner is never seen to grow.
    PrimarySelectionMonitor(Pasteboard& selection, Workspace& workspace, ClipIngestor& ingestor,
                            QObject* parent = nullptr, Timing timing = defaultTiming);
    // Interrupts the read in progress and joins the reader thread.
    ~PrimarySelectionMonitor() override;

    PrimarySelectionMonitor(const PrimarySelectionMonitor&) = delete;
    PrimarySelectionMonitor& operator=(const PrimarySelectionMonitor&) = delete;

    // Takes note of what is selected now, without recording it, and starts watching.
    void start();
    // While paused, a settled selection is taken note of but not recorded.
    void setPaused(bool paused) { isPaused = paused; }

signals:
    // Emitted on the main thread for every read of the selection, once its result is applied.
    void selectionRead(snipjar::CaptureOutcome outcome);
    // Emitted when a settled text was handed to the ingestor.
    void textRecorded(const QString& text);

private:
    enum class Purpose { baseline, settle };
    struct ReadRequest {
        Purpose purpose;
        quint64 generation;
        qint64 changeCount;
    };

    void poll();
    // Something may have changed: whatever was read so far no longer counts, and the settle time
    // starts again.
    void restart();
    void stepTimerFired();
    void read(Purpose purpose);
    void apply(const ReadRequest& request, const SelectedTextRead& result);
    void record(const QString& text, qint64 changeCount);

    Pasteboard& selection;
    Workspace& workspace;
    ClipIngestor& ingestor;
    const Timing timing;

    QTimer pollTimer;
    QTimer stepTimer;
    qint64 seenChangeCount = 0;
    bool wasButtonHeld = false;
    bool isPaused = false;
    // Bumped by every restart, so that the result of an earlier read no longer drives anything.
    quint64 generation = 0;
    // The text of the first read, waiting for the confirming one.
    std::optional<QString> candidate;
    int confirmations = 0;
    // The last text recorded (or seen at the start) and the owner change it came with.
    qint64 knownChangeCount = -1;
    std::optional<QString> knownText;

    QThread readerThread;
    // The reader thread's context object.
    std::unique_ptr<QObject> reader;
};

} // namespace snipjar
