#pragma once

#include "platform/ClipboardManagerRole.h"
#include "platform/x11/XcbConnection.h"

#include <QList>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

namespace snipjar {

// The clipboard-manager role on X11: the CLIPBOARD_MANAGER selection, held on a connection and a
// thread of their own. The thread answers other clients' requests on the selection (TARGETS and
// SAVE_TARGETS, the request a quitting program makes before it exits) and passes each SAVE_TARGETS
// to the main thread, whose answer it sends back; a request the main thread leaves unanswered is
// refused after handOverLimit.
class X11ClipboardManager final : public ClipboardManagerRole {
    Q_OBJECT
public:
    // A quitting program waits for the answer; it is refused rather than held up longer.
    static constexpr std::chrono::milliseconds handOverLimit{3000};

    // None when no display can be opened.
    static std::unique_ptr<X11ClipboardManager> create(QObject* parent = nullptr);
    ~X11ClipboardManager() override;

    bool claim() override;
    void release() override;
    bool isClaimed() const override;
    void finishHandOver(quint64 request, bool saved) override;
    bool handOverClipboard(std::chrono::milliseconds timeout) override;

private:
    using Clock = std::chrono::steady_clock;
    struct Request {
        quint64 id = 0;
        xcb_window_t requestor = XCB_WINDOW_NONE;
        xcb_atom_t property = XCB_ATOM_NONE;
        xcb_timestamp_t time = XCB_CURRENT_TIME;
        Clock::time_point deadline;
    };
    struct Answer {
        quint64 id = 0;
        bool saved = false;
    };

    X11ClipboardManager(std::unique_ptr<XcbConnection> connection, int wakeFd, QObject* parent);
    void run();
    void wake();
    void handleEvent(xcb_generic_event_t* event);
    void handleRequest(const xcb_selection_request_event_t& request);
    // Sends the answers the main thread has given and refuses the requests that waited too long.
    void sendAnswers();
    void reply(const Request& request, bool saved);

    std::unique_ptr<XcbConnection> connection_;
    int wakeFd_;
    xcb_window_t window_ = XCB_WINDOW_NONE;
    struct {
        xcb_atom_t manager, clipboardManager, targets, saveTargets, timestamp, atom, null;
    } atoms_{};

    std::atomic<bool> claimed_{false};
    // Whether "another program holds the role" has been said; it is said once.
    bool toldAboutOtherManager_ = false;

    // Shared between the main thread and the manager's thread.
    std::mutex mutex_;
    QList<Answer> answers_;

    // The manager's thread only.
    QList<Request> requests_;
    quint64 nextRequest_ = 1;

    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace snipjar
