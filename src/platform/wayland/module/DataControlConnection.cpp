#include "platform/wayland/module/DataControlConnection.h"

#include "platform/wayland/module/ConnectionLoop.h"

#include "ext-data-control-v1-client-protocol.h"
#include "platform/LogCategories.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <QRandomGenerator>

#include <wayland-client.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

namespace snipjar {

namespace {

// Both protocols put the same requests and events in the same order with the same arguments, so one
// client serves both: only the interfaces the objects are made with differ.
static_assert(EXT_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE ==
              ZWLR_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE);
static_assert(EXT_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE == ZWLR_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE);
static_assert(EXT_DATA_CONTROL_MANAGER_V1_DESTROY == ZWLR_DATA_CONTROL_MANAGER_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_SET_SELECTION == ZWLR_DATA_CONTROL_DEVICE_V1_SET_SELECTION);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION ==
              ZWLR_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION);
static_assert(EXT_DATA_CONTROL_DEVICE_V1_DESTROY == ZWLR_DATA_CONTROL_DEVICE_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_SOURCE_V1_OFFER == ZWLR_DATA_CONTROL_SOURCE_V1_OFFER);
static_assert(EXT_DATA_CONTROL_SOURCE_V1_DESTROY == ZWLR_DATA_CONTROL_SOURCE_V1_DESTROY);
static_assert(EXT_DATA_CONTROL_OFFER_V1_RECEIVE == ZWLR_DATA_CONTROL_OFFER_V1_RECEIVE);
static_assert(EXT_DATA_CONTROL_OFFER_V1_DESTROY == ZWLR_DATA_CONTROL_OFFER_V1_DESTROY);

// Every instance's own token starts so, and no instance's token is content.
constexpr char tokenPrefix[] = "application/x-snipjar-source;instance=";

// A reader that takes nothing of what it asked for in this long is given up.
constexpr std::chrono::seconds writeStallLimit{30};
// Transfers served at once; a reader that asks for more while others stall gets nothing.
constexpr qsizetype maxPendingWrites = 64;

// The listeners' layouts follow the protocol's events; every object argument is a proxy.
struct DeviceListener {
    void (*dataOffer)(void*, wl_proxy*, wl_proxy*);
    void (*selection)(void*, wl_proxy*, wl_proxy*);
    void (*finished)(void*, wl_proxy*);
    void (*primarySelection)(void*, wl_proxy*, wl_proxy*);
};
struct OfferListener {
    void (*offer)(void*, wl_proxy*, const char*);
};
struct SourceListener {
    void (*send)(void*, wl_proxy*, const char*, int32_t);
    void (*cancelled)(void*, wl_proxy*);
};

void addListener(wl_proxy* proxy, const void* listener, void* data) {
    wl_proxy_add_listener(proxy, reinterpret_cast<void (**)(void)>(const_cast<void*>(listener)), data);
}

void destroyProxy(wl_proxy* proxy, uint32_t opcode) {
    wl_proxy_marshal_flags(proxy, opcode, nullptr, wl_proxy_get_version(proxy), WL_MARSHAL_FLAG_DESTROY);
}

bool isToken(const QByteArray& type) {
    return type.startsWith(tokenPrefix);
}

} // namespace

struct DataControlConnection::Protocol {
    const wl_interface* manager;
    const wl_interface* device;
    const wl_interface* source;
    // The newest version this client speaks, and the first with the primary selection.
    uint32_t version;
    uint32_t primaryVersion;
};

struct DataControlConnection::Offer {
    wl_proxy* proxy = nullptr;
    QByteArrayList types;
};

struct DataControlConnection::Source {
    wl_proxy* proxy = nullptr;
    QList<ServedTarget> targets;
};

struct DataControlConnection::PendingWrite {
    int fd = -1;
    QByteArray bytes;
    qsizetype written = 0;
    std::chrono::steady_clock::time_point lastProgress;
};

namespace {

const DataControlConnection::Protocol* extProtocol();
const DataControlConnection::Protocol* wlrProtocol();

} // namespace

bool DataControlConnection::isOffered(Selection selection) {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        return false;
    }
    DataControlConnection probe(display, selection, {}, {});
    return probe.bind();
}

std::unique_ptr<DataControlConnection>
DataControlConnection::open(Selection selection, ChangeHandler onChange, LostHandler onLost) {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        qCDebug(lcPlatform) << "No Wayland compositor could be reached";
        return nullptr;
    }
    std::unique_ptr<DataControlConnection> control(
        new DataControlConnection(display, selection, std::move(onChange), std::move(onLost)));
    if (!control->bind() || !control->watch()) {
        return nullptr;
    }
    DataControlConnection* self = control.get();
    control->thread_ = std::thread([self] { self->run(); });
    return control;
}

DataControlConnection::DataControlConnection(wl_display* display, Selection selection, ChangeHandler onChange,
                                             LostHandler onLost)
    : display_(display)
    , selection_(selection)
    , onChange_(std::move(onChange))
    , onLost_(std::move(onLost))
    , ownToken_(tokenPrefix + QByteArray::number(QRandomGenerator::system()->generate64(), 16))
    , wakeFd_(wayland::makeWakeFd()) {}

DataControlConnection::~DataControlConnection() {
    if (thread_.joinable()) {
        stopping_ = true;
        wake();
        thread_.join();
    }
    for (const PendingWrite& write : std::as_const(writes_)) {
        ::close(write.fd);
    }
    for (const std::shared_ptr<Offer>& offer : std::as_const(announced_)) {
        destroyProxy(offer->proxy, EXT_DATA_CONTROL_OFFER_V1_DESTROY);
    }
    if (current_ && current_->proxy) {
        destroyProxy(current_->proxy, EXT_DATA_CONTROL_OFFER_V1_DESTROY);
    }
    for (const std::shared_ptr<Source>& source : std::as_const(sources_)) {
        destroyProxy(source->proxy, EXT_DATA_CONTROL_SOURCE_V1_DESTROY);
    }
    if (device_) {
        destroyProxy(device_, EXT_DATA_CONTROL_DEVICE_V1_DESTROY);
    }
    if (manager_) {
        destroyProxy(manager_, EXT_DATA_CONTROL_MANAGER_V1_DESTROY);
    }
    if (seat_) {
        wl_proxy_destroy(seat_);
    }
    // What was asked of the compositor last (the selection given up with the sources) reaches it.
    wayland::close(display_, registry_, wakeFd_);
}

void DataControlConnection::handleGlobal(void* data, wl_registry*, uint32_t name, const char* interface,
                                         uint32_t version) {
    auto* self = static_cast<DataControlConnection*>(data);
    for (const Protocol* protocol : {extProtocol(), wlrProtocol()}) {
        const uint32_t least = self->selection_ == Selection::primary ? protocol->primaryVersion : 1;
        // The standard protocol wins over the older one, whichever the compositor lists first.
        if (std::strcmp(interface, protocol->manager->name) == 0 && version >= least &&
            (!self->protocol_ || protocol == extProtocol())) {
            self->protocol_ = protocol;
            self->managerName_ = name;
            self->managerVersion_ = std::min(version, protocol->version);
        }
    }
    // The first seat: a desktop session has one.
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && self->seatName_ == 0) {
        self->seatName_ = name;
    }
}

void DataControlConnection::handleGlobalRemove(void*, wl_registry*, uint32_t) {}

bool DataControlConnection::bind() {
    static const wl_registry_listener listener{&handleGlobal, &handleGlobalRemove};
    if (wakeFd_ < 0) {
        return false;
    }
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &listener, this);
    if (wl_display_roundtrip(display_) < 0) {
        return false;
    }
    if (!protocol_ || seatName_ == 0) {
        qCDebug(lcPlatform) << "The Wayland compositor offers no data-control manager"
                            << (selection_ == Selection::primary ? "with the primary selection" : "");
        return false;
    }
    seat_ = static_cast<wl_proxy*>(wl_registry_bind(registry_, seatName_, &wl_seat_interface, 1));
    manager_ = static_cast<wl_proxy*>(
        wl_registry_bind(registry_, managerName_, protocol_->manager, managerVersion_));
    return seat_ && manager_;
}

bool DataControlConnection::watch() {
    static const DeviceListener listener{&handleDataOffer, &handleSelection, &handleFinished,
                                         &handlePrimarySelection};
    device_ = wl_proxy_marshal_flags(manager_, EXT_DATA_CONTROL_MANAGER_V1_GET_DATA_DEVICE, protocol_->device,
                                     managerVersion_, 0, nullptr, seat_);
    if (!device_) {
        return false;
    }
    addListener(device_, &listener, this);
    // The device announces the selection there is at once; that one is where counting starts.
    if (wl_display_roundtrip(display_) < 0) {
        return false;
    }
    qCDebug(lcPlatform) << "Watching the Wayland"
                        << (selection_ == Selection::primary ? "primary selection" : "clipboard") << "through"
                        << protocol_->manager->name << "version" << managerVersion_;
    reportsChanges_ = true;
    return true;
}

void DataControlConnection::wake() {
    wayland::wake(wakeFd_);
}

void DataControlConnection::run() {
    // A reader that closed its pipe early makes a write fail with EPIPE rather than end the process.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    bool failed = false;
    while (!stopping_ && !failed) {
        sendSyncs();
        std::vector<pollfd> writes;
        for (const PendingWrite& write : std::as_const(writes_)) {
            writes.push_back({write.fd, POLLOUT, 0});
        }
        // While writes wait for their readers, their stalls are looked at now and then.
        failed = !wayland::turn(display_, wakeFd_, std::move(writes), writes_.isEmpty() ? -1 : 1000,
                                [this](const std::vector<pollfd>& polled) {
                                    QList<int> writable;
                                    for (const pollfd& descriptor : polled) {
                                        if (descriptor.revents != 0) {
                                            writable << descriptor.fd;
                                        }
                                    }
                                    serveWrites(writable);
                                });
    }
    endSyncs();
    if (failed && !stopping_) {
        qCWarning(lcPlatform) << "The connection to the Wayland compositor broke:"
                              << std::strerror(wl_display_get_error(display_));
        if (onLost_) {
            onLost_();
        }
    }
}

bool DataControlConnection::catchUp(std::chrono::milliseconds limit) {
    std::unique_lock lock(syncMutex_);
    if (syncsEnded_) {
        return true;
    }
    const quint64 ticket = ++syncsAsked_;
    lock.unlock();
    wake();
    lock.lock();
    return syncAnswered_.wait_for(lock, limit, [&] { return syncsAnswered_ >= ticket || syncsEnded_; });
}

void DataControlConnection::sendSyncs() {
    static const wl_callback_listener listener{&handleSyncDone};
    quint64 asked = 0;
    {
        std::lock_guard lock(syncMutex_);
        if (syncsAsked_ == syncsSent_) {
            return;
        }
        asked = syncsSent_ = syncsAsked_;
    }
    wl_callback* callback = wl_display_sync(display_);
    if (callback) {
        wl_callback_add_listener(callback, &listener, this);
        syncsOnTheirWay_.emplace_back(callback, asked);
    }
}

void DataControlConnection::handleSyncDone(void* data, wl_callback* callback, uint32_t) {
    auto* self = static_cast<DataControlConnection*>(data);
    while (!self->syncsOnTheirWay_.empty()) {
        const auto [sent, asked] = self->syncsOnTheirWay_.front();
        self->syncsOnTheirWay_.pop_front();
        wl_callback_destroy(sent);
        if (sent == callback) {
            {
                std::lock_guard lock(self->syncMutex_);
                self->syncsAnswered_ = asked;
            }
            self->syncAnswered_.notify_all();
            return;
        }
    }
}

void DataControlConnection::endSyncs() {
    for (const auto& [callback, asked] : syncsOnTheirWay_) {
        wl_callback_destroy(callback);
    }
    syncsOnTheirWay_.clear();
    {
        std::lock_guard lock(syncMutex_);
        syncsEnded_ = true;
    }
    syncAnswered_.notify_all();
}

void DataControlConnection::serveWrites(const QList<int>& writable) {
    const auto now = std::chrono::steady_clock::now();
    for (qsizetype index = 0; index < writes_.size();) {
        PendingWrite& write = writes_[index];
        bool failed = false;
        if (writable.contains(write.fd)) {
            const ssize_t written = ::write(write.fd, write.bytes.constData() + write.written,
                                            size_t(write.bytes.size() - write.written));
            if (written > 0) {
                write.written += written;
                write.lastProgress = now;
            } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
                failed = true;
            }
        }
        if (failed || write.written >= write.bytes.size() || now - write.lastProgress > writeStallLimit) {
            ::close(write.fd);
            writes_.removeAt(index);
            continue;
        }
        ++index;
    }
}

void DataControlConnection::handleDataOffer(void* data, wl_proxy*, wl_proxy* offer) {
    static const OfferListener listener{&handleOfferType};
    auto* self = static_cast<DataControlConnection*>(data);
    auto entry = std::make_shared<Offer>();
    entry->proxy = offer;
    addListener(offer, &listener, self);
    std::lock_guard lock(self->mutex_);
    self->announced_.insert(offer, std::move(entry));
}

void DataControlConnection::handleOfferType(void* data, wl_proxy* proxy, const char* type) {
    auto* self = static_cast<DataControlConnection*>(data);
    const QByteArray name(type);
    std::lock_guard lock(self->mutex_);
    std::shared_ptr<Offer> offer = self->announced_.value(proxy);
    if (!offer && self->current_ && self->current_->proxy == proxy) {
        offer = self->current_;
    }
    if (offer && offer->types.size() < maxOfferedTypes && name.size() <= maxTypeNameBytes &&
        !offer->types.contains(name)) {
        offer->types << name;
    }
}

void DataControlConnection::handleSelection(void* data, wl_proxy*, wl_proxy* offer) {
    static_cast<DataControlConnection*>(data)->announce(offer, Selection::clipboard);
}

void DataControlConnection::handlePrimarySelection(void* data, wl_proxy*, wl_proxy* offer) {
    static_cast<DataControlConnection*>(data)->announce(offer, Selection::primary);
}

void DataControlConnection::announce(wl_proxy* offer, Selection selection) {
    Change change;
    {
        std::lock_guard lock(mutex_);
        std::shared_ptr<Offer> entry = offer ? announced_.take(offer) : nullptr;
        if (offer && !entry) {
            // Made the selection without being introduced first: an offer of no type.
            entry = std::make_shared<Offer>(Offer{offer, {}});
        }
        if (selection != selection_) {
            // The other selection's offer is not watched here.
            if (offer) {
                destroyProxy(offer, EXT_DATA_CONTROL_OFFER_V1_DESTROY);
            }
            return;
        }
        if (current_ && current_->proxy) {
            destroyProxy(current_->proxy, EXT_DATA_CONTROL_OFFER_V1_DESTROY);
        }
        current_ = entry;
        change = {++serial_, !entry, entry && entry->types.contains(ownToken_)};
    }
    if (reportsChanges_ && onChange_) {
        onChange_(change);
    }
}

void DataControlConnection::handleFinished(void* data, wl_proxy*) {
    auto* self = static_cast<DataControlConnection*>(data);
    qCWarning(lcPlatform) << "The Wayland compositor ended the data-control device";
    self->stopping_ = true;
    if (self->onLost_) {
        self->onLost_();
    }
}

quint64 DataControlConnection::currentSerial() {
    std::lock_guard lock(mutex_);
    return serial_;
}

DataControlConnection::Offered DataControlConnection::current() {
    std::lock_guard lock(mutex_);
    Offered offered{serial_, {}};
    if (current_) {
        for (const QByteArray& type : std::as_const(current_->types)) {
            if (!isToken(type)) {
                offered.types << type;
            }
        }
    }
    return offered;
}

int DataControlConnection::receive(quint64 serial, const QByteArray& type) {
    int fds[2] = {-1, -1};
    {
        std::lock_guard lock(mutex_);
        if (serial != serial_ || !current_ || !current_->types.contains(type)) {
            return -1;
        }
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return -1;
        }
        wl_proxy_marshal_flags(current_->proxy, EXT_DATA_CONTROL_OFFER_V1_RECEIVE, nullptr,
                               wl_proxy_get_version(current_->proxy), 0, type.constData(), fds[1]);
    }
    // The request carries a copy of the write end; the owner's copy is the only one left open.
    wl_display_flush(display_);
    ::close(fds[1]);
    wake();
    return fds[0];
}

void DataControlConnection::own(const QList<ServedTarget>& targets) {
    static const SourceListener listener{&handleSend, &handleCancelled};
    {
        std::lock_guard lock(mutex_);
        auto source = std::make_shared<Source>();
        source->targets = targets;
        source->proxy = wl_proxy_marshal_flags(manager_, EXT_DATA_CONTROL_MANAGER_V1_CREATE_DATA_SOURCE,
                                               protocol_->source, managerVersion_, 0, nullptr);
        if (!source->proxy) {
            return;
        }
        addListener(source->proxy, &listener, this);
        for (const ServedTarget& target : targets) {
            wl_proxy_marshal_flags(source->proxy, EXT_DATA_CONTROL_SOURCE_V1_OFFER, nullptr, managerVersion_,
                                   0, target.target.constData());
        }
        wl_proxy_marshal_flags(source->proxy, EXT_DATA_CONTROL_SOURCE_V1_OFFER, nullptr, managerVersion_, 0,
                               ownToken_.constData());
        const uint32_t request = selection_ == Selection::primary
                                     ? EXT_DATA_CONTROL_DEVICE_V1_SET_PRIMARY_SELECTION
                                     : EXT_DATA_CONTROL_DEVICE_V1_SET_SELECTION;
        wl_proxy_marshal_flags(device_, request, nullptr, managerVersion_, 0, source->proxy);
        sources_.insert(source->proxy, std::move(source));
    }
    wl_display_flush(display_);
    wake();
}

void DataControlConnection::handleSend(void* data, wl_proxy* proxy, const char* type, int32_t fd) {
    auto* self = static_cast<DataControlConnection*>(data);
    QByteArray bytes;
    bool served = false;
    {
        std::lock_guard lock(self->mutex_);
        const std::shared_ptr<Source> source = self->sources_.value(proxy);
        for (const ServedTarget& target : source ? source->targets : QList<ServedTarget>{}) {
            if (target.target == type) {
                bytes = target.data;
                served = true;
                break;
            }
        }
    }
    if (!served || bytes.isEmpty() || self->writes_.size() >= maxPendingWrites) {
        // Nothing (the token, a type never offered, or one transfer too many) is an empty answer.
        ::close(fd);
        return;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    self->writes_.append({fd, std::move(bytes), 0, std::chrono::steady_clock::now()});
}

void DataControlConnection::handleCancelled(void* data, wl_proxy* proxy) {
    auto* self = static_cast<DataControlConnection*>(data);
    std::lock_guard lock(self->mutex_);
    if (self->sources_.remove(proxy) > 0) {
        destroyProxy(proxy, EXT_DATA_CONTROL_SOURCE_V1_DESTROY);
    }
}

namespace {

const DataControlConnection::Protocol* extProtocol() {
    static const DataControlConnection::Protocol protocol{&ext_data_control_manager_v1_interface,
                                                          &ext_data_control_device_v1_interface,
                                                          &ext_data_control_source_v1_interface, 1, 1};
    return &protocol;
}

const DataControlConnection::Protocol* wlrProtocol() {
    static const DataControlConnection::Protocol protocol{&zwlr_data_control_manager_v1_interface,
                                                          &zwlr_data_control_device_v1_interface,
                                                          &zwlr_data_control_source_v1_interface, 2, 2};
    return &protocol;
}

} // namespace

} // namespace snipjar
