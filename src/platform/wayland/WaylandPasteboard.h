#pragma once

#include "platform/MimePasteboard.h"
#include "platform/wayland/WaylandDataControl.h"

#include <QHash>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

namespace snipjar {

// A Wayland selection as a clipboard, over the compositor's data-control protocol: the clipboard,
// or the primary selection (the text selected with the mouse) read and written the same way.
//
// The data-control connection's thread counts each selection the compositor announces (the
// application's own writes are counted by write() itself) and serves what write() put on the
// selection. Reads ask the current owner through a pipe on the calling thread, one at a time and
// with bounded waits; a new selection ends the read in progress. The small values read are kept
// for the current change, large ones only while a capture runs.
class WaylandPasteboard final : public MimePasteboard {
    Q_OBJECT
public:
    // Values up to this size stay cached after a capture, for a retry of the same change.
    static constexpr qsizetype smallValueBytes = 64 * 1024;

    struct Timeouts {
        // Longest wait for the owner's first bytes. Some programs render what they offer (a large
        // image) only when asked, so this is generous; reads are off the main thread.
        std::chrono::milliseconds answer{5000};
        // Longest wait for the next bytes once the transfer has started.
        std::chrono::milliseconds idle{1000};
        // Longest time one read may take in all.
        std::chrono::milliseconds total{30000};
    };

    // None when the compositor cannot be reached or offers no data-control manager for the
    // selection.
    static std::unique_ptr<WaylandPasteboard>
    create(WaylandDataControl::Selection selection = WaylandDataControl::Selection::clipboard,
           QObject* parent = nullptr);
    ~WaylandPasteboard() override;

    void setReadTimeouts(const Timeouts& timeouts);
    // Whether small values stay cached after a capture (on by default); off for the primary
    // selection, which the monitor re-reads to see whether it still grows.
    void setKeepsValuesBetweenCaptures(bool keeps);

    qint64 changeCount() const override;
    void beginCapture() override;
    bool endCapture() override;
    void interruptReads() override;
    void resumeReads() override;
    void write(const PasteboardContent& content) override;

signals:
    // The connection to the compositor broke; nothing here works any longer.
    void connectionLost();

protected:
    bool isCapturing() override;
    QByteArrayList offeredTargets() override;
    PasteboardRead readTarget(const QByteArray& target, qint64 byteCap) override;

private:
    enum class PipeStatus { ok, tooLarge, timedOut, overtaken, interrupted, failed };
    struct ChangeCache {
        qint64 changeCount = -1;
        quint64 serial = 0;
        QHash<QByteArray, QByteArray> bytes;
    };
    struct Capture {
        bool isActive = false;
        qint64 changeCount = -1;
        quint64 serial = 0;
        // The selection changed (or reading was interrupted) during the capture.
        bool isOvertaken = false;
        // The owner let a read time out: the rest of this capture does not wait for it again.
        bool isOwnerUnresponsive = false;
    };

    explicit WaylandPasteboard(int wakeFd, QObject* parent);
    void noteChange(const WaylandDataControl::Change& change);
    void wakeReader();
    // True while the capture's change is still the current one.
    bool isCurrent(qint64 changeCount, quint64 serial);
    // Reads the pipe to its end, no further than byteCap.
    PipeStatus readPipe(int fd, qint64 byteCap, qint64 changeCount, quint64 serial, QByteArray& bytes);

    std::atomic<qint64> changeCount_{0};
    std::atomic<bool> keepsValuesBetweenCaptures_{true};
    std::atomic<bool> interrupted_{false};
    // Written on every change and interruption, so that a read waiting on its pipe looks up.
    const int wakeFd_;
    // Guards the cache and the capture state; held only briefly, never during a read.
    std::mutex cacheMutex_;
    ChangeCache cache_;
    Capture capture_;
    // One read at a time; guards the timeouts.
    std::mutex readerMutex_;
    Timeouts timeouts_;
    std::unique_ptr<WaylandDataControl> control_;
};

} // namespace snipjar
