#include "platform/wayland/WaylandPasteboard.h"

#include "platform/LogCategories.h"
#include "platform/PasteboardMimeMapping.h"

#include <QMetaObject>

#include <cerrno>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace snipjar {

namespace {

using Clock = std::chrono::steady_clock;
constexpr qsizetype chunkBytes = 64 * 1024;
// How long the end of a transfer waits for the compositor to confirm the selection is unchanged.
constexpr std::chrono::milliseconds catchUpLimit{2000};

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::max<qint64>(0, left.count()));
}

} // namespace

std::unique_ptr<WaylandPasteboard> WaylandPasteboard::create(WaylandDataControl::Selection selection,
                                                             QObject* parent) {
    const int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        return nullptr;
    }
    std::unique_ptr<WaylandPasteboard> pasteboard(new WaylandPasteboard(wakeFd, parent));
    WaylandPasteboard* self = pasteboard.get();
    pasteboard->control_ = WaylandDataControl::open(
        selection, [self](const WaylandDataControl::Change& change) { self->noteChange(change); },
        [self] {
            QMetaObject::invokeMethod(
                self, [self] { emit self->connectionLost(); }, Qt::QueuedConnection);
        });
    if (!pasteboard->control_) {
        return nullptr;
    }
    return pasteboard;
}

WaylandPasteboard::WaylandPasteboard(int wakeFd, QObject* parent)
    : MimePasteboard(parent)
    , wakeFd_(wakeFd) {}

WaylandPasteboard::~WaylandPasteboard() {
    // Stops the connection's thread before anything it calls back into goes away.
    control_.reset();
    ::close(wakeFd_);
}

void WaylandPasteboard::setReadTimeouts(const Timeouts& timeouts) {
    std::lock_guard lock(readerMutex_);
    timeouts_ = timeouts;
}

void WaylandPasteboard::setKeepsValuesBetweenCaptures(bool keeps) {
    keepsValuesBetweenCaptures_ = keeps;
}

void WaylandPasteboard::wakeReader() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

// Runs on the connection's thread for every selection the compositor announces.
void WaylandPasteboard::noteChange(const WaylandDataControl::Change& change) {
    if (!change.isOwn) {
        // The application's own selection was counted when it was written.
        ++changeCount_;
    }
    {
        // Large bytes of the old contents go now rather than at the next read.
        std::lock_guard lock(cacheMutex_);
        if (cache_.serial != change.serial) {
            cache_ = ChangeCache{};
        }
    }
    wakeReader();
    if (change.isOwn) {
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, ownerGone = change.isEmpty] {
            emit changed();
            if (ownerGone) {
                emit ownerLost();
            }
        },
        Qt::QueuedConnection);
}

qint64 WaylandPasteboard::changeCount() const {
    return changeCount_.load();
}

bool WaylandPasteboard::isCapturing() {
    std::lock_guard lock(cacheMutex_);
    return capture_.isActive;
}

bool WaylandPasteboard::isCurrent(qint64 changeCount, quint64 serial) {
    return changeCount_.load() == changeCount && control_->currentSerial() == serial;
}

void WaylandPasteboard::beginCapture() {
    // Counted before the selection is pinned: a change in between overtakes the capture rather
    // than slipping past it.
    const qint64 change = changeCount_.load();
    const quint64 serial = control_->currentSerial();
    std::lock_guard lock(cacheMutex_);
    capture_ = Capture{true, change, serial, false, false};
    if (cache_.changeCount != change || cache_.serial != serial) {
        cache_ = ChangeCache{change, serial, {}};
    }
}

bool WaylandPasteboard::endCapture() {
    std::lock_guard lock(cacheMutex_);
    const bool isCurrentChange =
        capture_.isActive && !capture_.isOvertaken && isCurrent(capture_.changeCount, capture_.serial);
    capture_ = Capture{};
    if (!isCurrentChange || !keepsValuesBetweenCaptures_.load()) {
        cache_ = ChangeCache{};
        return isCurrentChange;
    }
    cache_.bytes.removeIf([](const auto& entry) { return entry.value().size() > smallValueBytes; });
    cache_.bytes.squeeze();
    return true;
}

void WaylandPasteboard::interruptReads() {
    interrupted_ = true;
    wakeReader();
}

void WaylandPasteboard::resumeReads() {
    interrupted_ = false;
}

QByteArrayList WaylandPasteboard::offeredTargets() {
    ReadScope scope(*this);
    const WaylandDataControl::Offered offered = control_->current();
    std::lock_guard lock(cacheMutex_);
    if (offered.serial != capture_.serial || changeCount_.load() != capture_.changeCount) {
        capture_.isOvertaken = true;
        return {};
    }
    return offered.types;
}

PasteboardRead WaylandPasteboard::readTarget(const QByteArray& target, qint64 byteCap) {
    ReadScope scope(*this);
    qint64 change = 0;
    quint64 serial = 0;
    {
        std::lock_guard lock(cacheMutex_);
        change = capture_.changeCount;
        serial = capture_.serial;
        if (!isCurrent(change, serial) || interrupted_.load()) {
            capture_.isOvertaken = true;
        }
        if (capture_.isOvertaken || capture_.isOwnerUnresponsive) {
            return {};
        }
        auto cached = cache_.bytes.constFind(target);
        if (cache_.changeCount == change && cached != cache_.bytes.constEnd()) {
            if (cached->size() > byteCap) {
                return {PasteboardRead::Status::tooLarge, {}};
            }
            return {PasteboardRead::Status::ok, *cached};
        }
    }
    QByteArray bytes;
    PipeStatus status = PipeStatus::overtaken;
    {
        std::lock_guard lock(readerMutex_);
        const int fd = control_->receive(serial, target);
        if (fd < 0) {
            // Not offered, or no longer the selection (which the check below tells apart).
            status = isCurrent(change, serial) ? PipeStatus::ok : PipeStatus::overtaken;
            if (status == PipeStatus::ok) {
                return {};
            }
        } else {
            status = readPipe(fd, byteCap, change, serial, bytes);
            ::close(fd);
            // An owner that loses the selection may end the transfer early and quit before the
            // new selection reaches this connection: the end of the bytes counts once the
            // compositor's events up to now are known.
            if (status == PipeStatus::ok && !control_->catchUp(catchUpLimit)) {
                status = PipeStatus::failed;
            }
        }
    }
    std::lock_guard lock(cacheMutex_);
    if (!isCurrent(change, serial)) {
        capture_.isOvertaken = true;
        return {};
    }
    switch (status) {
    case PipeStatus::ok:
        if (cache_.changeCount == change) {
            cache_.bytes.insert(target, bytes);
        }
        return {PasteboardRead::Status::ok, std::move(bytes)};
    case PipeStatus::tooLarge:
        return {PasteboardRead::Status::tooLarge, {}};
    case PipeStatus::timedOut:
        qCInfo(lcPlatform) << "The clipboard's owner did not send" << target << "in time";
        capture_.isOwnerUnresponsive = true;
        return {};
    case PipeStatus::overtaken:
    case PipeStatus::interrupted:
        capture_.isOvertaken = true;
        return {};
    case PipeStatus::failed:
        return {};
    }
    return {};
}

WaylandPasteboard::PipeStatus WaylandPasteboard::readPipe(int fd, qint64 byteCap, qint64 changeCount,
                                                          quint64 serial, QByteArray& bytes) {
    const Clock::time_point start = Clock::now();
    const Clock::time_point totalDeadline = start + timeouts_.total;
    Clock::time_point deadline = std::min(totalDeadline, start + timeouts_.answer);
    pollfd descriptors[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    while (true) {
        if (interrupted_.load()) {
            return PipeStatus::interrupted;
        }
        if (!isCurrent(changeCount, serial)) {
            return PipeStatus::overtaken;
        }
        const int ready = ::poll(descriptors, 2, millisecondsUntil(deadline));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return PipeStatus::failed;
        }
        if (ready == 0) {
            return PipeStatus::timedOut;
        }
        if (descriptors[1].revents & POLLIN) {
            uint64_t ignored = 0;
            [[maybe_unused]] const ssize_t drained = ::read(wakeFd_, &ignored, sizeof ignored);
            continue;
        }
        if (!(descriptors[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            continue;
        }
        const qsizetype before = bytes.size();
        bytes.resize(before + chunkBytes);
        const ssize_t got = ::read(fd, bytes.data() + before, chunkBytes);
        bytes.resize(before + std::max<ssize_t>(got, 0));
        if (got == 0) {
            return PipeStatus::ok;
        }
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return PipeStatus::failed;
        }
        if (bytes.size() > byteCap) {
            bytes.clear();
            return PipeStatus::tooLarge;
        }
        deadline = std::min(totalDeadline, Clock::now() + timeouts_.idle);
    }
}

void WaylandPasteboard::write(const PasteboardContent& content) {
    control_->own(PasteboardMimeMapping::servedTargets(content));
    // Counted here rather than from the selection this causes, which the connection's thread
    // recognises as the application's own: the count has moved when write() returns, once.
    ++changeCount_;
    {
        std::lock_guard lock(cacheMutex_);
        cache_ = ChangeCache{};
    }
    wakeReader();
    QMetaObject::invokeMethod(
        this, [this] { emit changed(); }, Qt::QueuedConnection);
}

} // namespace snipjar
