#pragma once

#include "platform/PasteboardMimeMapping.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

struct wl_display;
struct wl_proxy;
struct wl_registry;

namespace snipjar {

// One Wayland selection (the clipboard or the primary selection) watched and owned through the
// compositor's data-control protocol: ext-data-control-v1 where offered, else
// wlr-data-control-unstable-v1 (version 2 or later for the primary selection).
//
// It has a wl_display connection and a thread of its own, never Qt's: the thread dispatches the
// compositor's events (each new selection, and the requests for what this program put on the
// selection, which it writes without blocking) and reports every selection change through the
// callback, on that thread. Other threads ask the current offer for a type (receive) and put
// content on the selection (own).
class WaylandDataControl {
public:
    enum class Selection { clipboard, primary };
    using ServedTarget = PasteboardMimeMapping::ServedTarget;

    struct Change {
        // Increases with every selection the compositor announces.
        quint64 serial = 0;
        // No program holds the selection any longer.
        bool isEmpty = false;
        // The selection is what this connection put there.
        bool isOwn = false;
    };
    // Called on the connection's thread.
    using ChangeHandler = std::function<void(const Change&)>;

    // Offered types beyond this many are ignored, and longer names dropped: a hostile owner's
    // offer stays bounded.
    static constexpr qsizetype maxOfferedTypes = 256;
    static constexpr qsizetype maxTypeNameBytes = 1024;

    // True when WAYLAND_DISPLAY names a compositor that can be reached and offers a data-control
    // manager (of a version with the primary selection when `selection` is primary).
    static bool isOffered(Selection selection = Selection::clipboard);
    // None when the compositor cannot be reached or offers no data-control manager fit for the
    // selection.
    static std::unique_ptr<WaylandDataControl> open(Selection selection, ChangeHandler onChange,
                                                    std::function<void()> onLost);
    ~WaylandDataControl();
    WaylandDataControl(const WaylandDataControl&) = delete;
    WaylandDataControl& operator=(const WaylandDataControl&) = delete;

    // The current selection: its serial and the types it offers (this program's own token left
    // out); no types when the selection is empty.
    struct Offered {
        quint64 serial = 0;
        QByteArrayList types;
    };
    Offered current();
    quint64 currentSerial();
    // Asks the selection announced with `serial` for one type: the read end of a pipe the owner
    // writes into (the caller closes it), or -1 when the selection has changed since or the
    // request could not be made.
    int receive(quint64 serial, const QByteArray& type);
    // Puts the targets on the selection. The change this makes is reported with isOwn set.
    void own(const QList<ServedTarget>& targets);

    // The interfaces of one of the two protocols, which differ in nothing else.
    struct Protocol;

private:
    struct Offer;
    struct Source;
    struct PendingWrite;

    WaylandDataControl(wl_display* display, Selection selection, ChangeHandler onChange,
                       std::function<void()> onLost);
    // Learns the compositor's globals and binds the seat and the best data-control manager.
    bool bind();
    // Creates the data device and waits for its first selection.
    bool watch();
    void run();
    void wake();
    void serveWrites(const QList<int>& writable);

    static void handleGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                             uint32_t version);
    static void handleGlobalRemove(void* data, wl_registry* registry, uint32_t name);
    static void handleDataOffer(void* data, wl_proxy* device, wl_proxy* offer);
    static void handleSelection(void* data, wl_proxy* device, wl_proxy* offer);
    static void handlePrimarySelection(void* data, wl_proxy* device, wl_proxy* offer);
    static void handleFinished(void* data, wl_proxy* device);
    static void handleOfferType(void* data, wl_proxy* offer, const char* type);
    static void handleSend(void* data, wl_proxy* source, const char* type, int32_t fd);
    static void handleCancelled(void* data, wl_proxy* source);
    void announce(wl_proxy* offer, Selection selection);

    wl_display* display_ = nullptr;
    const Selection selection_;
    const ChangeHandler onChange_;
    const std::function<void()> onLost_;
    // A MIME type offered beside this connection's own content, by which its own selection is
    // recognised when the compositor announces it.
    const QByteArray ownToken_;
    int wakeFd_ = -1;

    // Set up before the thread starts.
    const Protocol* protocol_ = nullptr;
    uint32_t managerName_ = 0;
    uint32_t seatName_ = 0;
    wl_registry* registry_ = nullptr;
    wl_proxy* seat_ = nullptr;
    wl_proxy* manager_ = nullptr;
    uint32_t managerVersion_ = 0;
    wl_proxy* device_ = nullptr;

    // Guards the offers, the sources and the serial; never held while waiting.
    std::mutex mutex_;
    // Offers announced and not yet made the selection, and the current selection's offer.
    QHash<wl_proxy*, std::shared_ptr<Offer>> announced_;
    std::shared_ptr<Offer> current_;
    quint64 serial_ = 0;
    QHash<wl_proxy*, std::shared_ptr<Source>> sources_;

    // The thread only.
    QList<PendingWrite> writes_;

    // Changes are reported once the first selection, the one found at the start, is known.
    bool reportsChanges_ = false;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace snipjar
