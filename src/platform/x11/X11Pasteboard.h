#pragma once

#include "platform/MimePasteboard.h"
#include "platform/x11/X11SelectionReader.h"

#include <QHash>

#include <atomic>
#include <memory>
#include <mutex>

namespace snipjar {

class X11SelectionOwner;

// An X11 selection as a clipboard: CLIPBOARD is the application's clipboard; PRIMARY (the text
// selected with the mouse) is read and written the same way.
//
// Two connections of its own keep the main thread free of other clients: the owner's thread
// watches owner changes through XFixes (each one moves the change count and emits changed()) and
// serves what write() put on the clipboard; reads convert the selection on a second connection on
// the calling thread, with bounded waits, each capture tied to the owner it began with. The target
// list and small values are kept for the current change; large values only while a capture runs.
class X11Pasteboard final : public MimePasteboard {
    Q_OBJECT
public:
    // Values up to this size stay cached after a capture, for a retry of the same change.
    static constexpr qsizetype smallValueBytes = 64 * 1024;

    // None when no X display can be opened (or it lacks XFixes).
    static std::unique_ptr<X11Pasteboard> create(QObject* parent = nullptr,
                                                 const QByteArray& selection = "CLIPBOARD");
    ~X11Pasteboard() override;

    // How long reads wait for an owner (tests and benchmarks shorten or lengthen them).
    void setReadTimeouts(const X11SelectionReader::Timeouts& timeouts);
    // Bytes of values held for the current change.
    qint64 cachedByteCount();
    // Whether the target list and small values stay cached after a capture, for the next capture of
    // the same change (on by default). Off for the primary selection, whose owner may answer with
    // other text without an owner change: every capture then asks the owner afresh.
    void setKeepsValuesBetweenCaptures(bool keeps);

    qint64 changeCount() const override;
    void beginCapture() override;
    bool endCapture() override;
    void interruptReads() override;
    void resumeReads() override;
    void write(const PasteboardContent& content) override;

protected:
    bool isCapturing() override;
    QByteArrayList offeredTargets() override;
    PasteboardRead readTarget(const QByteArray& target, qint64 byteCap) override;

private:
    // What has been learned about the current change; dropped when the count moves.
    struct ChangeCache {
        qint64 changeCount = -1;
        X11SelectionReader::Owner owner;
        std::optional<QByteArrayList> targets;
        QHash<QByteArray, QByteArray> bytes;
    };
    struct Capture {
        bool isActive = false;
        qint64 changeCount = -1;
        X11SelectionReader::Owner owner;
        // The clipboard changed (or reading was interrupted) during the capture.
        bool isOvertaken = false;
        // The owner let a conversion time out: the rest of this capture does not wait for it
        // again. The next capture asks afresh.
        bool isOwnerUnresponsive = false;
    };

    explicit X11Pasteboard(std::unique_ptr<X11SelectionReader> reader, QObject* parent);
    void noteChange(bool ownerGone);

    std::atomic<qint64> changeCount_{0};
    std::atomic<bool> keepsValuesBetweenCaptures_{true};
    // Guards the cache and the capture state; held only briefly, never during a conversion.
    std::mutex cacheMutex_;
    ChangeCache cache_;
    Capture capture_;
    // Serialises conversions on the reader's connection.
    std::mutex readerMutex_;
    std::unique_ptr<X11SelectionReader> reader_;
    std::unique_ptr<X11SelectionOwner> owner_;
};

} // namespace snipjar
