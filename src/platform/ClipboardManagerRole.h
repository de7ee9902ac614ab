#pragma once

#include <QObject>

#include <chrono>

namespace snipjar {

// The desktop's clipboard manager: the one program that programs hand their clipboard to when
// they quit, so that what they copied outlives them. At most one program holds the role.
//
// Snipjar takes the role when no other program has it. A program that quits asks the holder to
// save its clipboard (handOverRequested) and waits for the answer (finishHandOver) before it
// exits; the holder then owns the clipboard in its place. When Snipjar quits owning the clipboard
// and another program holds the role, Snipjar hands its clipboard over the same way.
//
// Main thread: the functions are called and the signals arrive there.
class ClipboardManagerRole : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~ClipboardManagerRole() override = default;

    // Takes the role; false when another program holds it (the role is then left alone).
    virtual bool claim() = 0;
    // Gives the role up, if held.
    virtual void release() = 0;
    virtual bool isClaimed() const = 0;

    // Answers a hand-over: `saved` when the clipboard is now kept by this program. A request left
    // unanswered is refused after a few seconds, so that the quitting program is never held up.
    virtual void finishHandOver(quint64 request, bool saved) = 0;

    // Asks the program holding the role (never this one) to save the clipboard this program owns,
    // and waits at most `timeout` for it, serving its reads meanwhile. False when there is no
    // other holder, it refused, or it did not answer in time.
    virtual bool handOverClipboard(std::chrono::milliseconds timeout) = 0;

signals:
    // A quitting program asks for its clipboard to be kept; answer with finishHandOver().
    void handOverRequested(quint64 request);
    // Another program took the role from this one.
    void roleTaken();
};

} // namespace snipjar
