#pragma once

#include "platform/wayland/WaylandDataControl.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QHash>
#include <QList>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

struct wl_callback;
struct wl_display;
struct wl_proxy;
struct wl_registry;

namespace snipjar {

// The data-control client behind WaylandDataControl, in the Wayland module: one connection to the
// compositor, its thread, and the selection's current offer and this program's sources.
class DataControlConnection final : public WaylandDataControl {
public:
    // Offered types beyond this many are ignored, and longer names dropped: a hostile owner's
    // offer stays bounded.
    static constexpr qsizetype maxOfferedTypes = 256;
    static constexpr qsizetype maxTypeNameBytes = 1024;

    static bool isOffered(Selection selection);
    static std::unique_ptr<DataControlConnection> open(Selection selection, ChangeHandler onChange,
                                                       LostHandler onLost);
    ~DataControlConnection() override;
    DataControlConnection(const DataControlConnection&) = delete;
    DataControlConnection& operator=(const DataControlConnection&) = delete;

    Offered current() override;
    quint64 currentSerial() override;
    int receive(quint64 serial, const QByteArray& type) override;
    void own(const QList<ServedTarget>& targets) override;
    bool catchUp(std::chrono::milliseconds limit) override;

    // The interfaces of one of the two protocols, which differ in nothing else.
    struct Protocol;

private:
    struct Offer;
    struct Source;
    struct PendingWrite;

    DataControlConnection(wl_display* display, Selection selection, ChangeHandler onChange,
                          LostHandler onLost);
    // Learns the compositor's globals and binds the seat and the best data-control manager.
    bool bind();
    // Creates the data device and waits for its first selection.
    bool watch();
    void run();
    void wake();
    void serveWrites(const QList<int>& writable);
    // On the thread: asks the compositor for the round trips callers wait for in catchUp().
    void sendSyncs();
    void endSyncs();

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
    static void handleSyncDone(void* data, wl_callback* callback, uint32_t);
    void announce(wl_proxy* offer, Selection selection);

    wl_display* display_ = nullptr;
    const Selection selection_;
    const ChangeHandler onChange_;
    const LostHandler onLost_;
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

    // Round trips: asked for by callers of catchUp(), sent and answered on the thread (in order, so
    // the newest answer covers every earlier request).
    std::mutex syncMutex_;
    std::condition_variable syncAnswered_;
    quint64 syncsAsked_ = 0;
    quint64 syncsSent_ = 0;
    quint64 syncsAnswered_ = 0;
    bool syncsEnded_ = false;
    // The thread only: the round trips on their way, with the request each answers.
    std::deque<std::pair<wl_callback*, quint64>> syncsOnTheirWay_;

    // Changes are reported once the first selection, the one found at the start, is known.
    bool reportsChanges_ = false;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace snipjar
