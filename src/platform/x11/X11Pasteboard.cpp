#include "platform/x11/X11Pasteboard.h"

#include "platform/LogCategories.h"
#include "platform/PasteboardMimeMapping.h"
#include "platform/x11/X11SelectionOwner.h"

#include <QMetaObject>

#include <cstring>

namespace snipjar {

namespace {

using Mapping = PasteboardMimeMapping;

// A target list longer than this is not a target list.
constexpr qint64 targetsByteCap = 64 * 1024;

} // namespace

std::unique_ptr<X11Pasteboard> X11Pasteboard::create(QObject* parent, const QByteArray& selection) {
    std::unique_ptr<X11SelectionReader> reader = X11SelectionReader::create(selection);
    if (!reader) {
        return nullptr;
    }
    std::unique_ptr<X11Pasteboard> pasteboard(new X11Pasteboard(std::move(reader), parent));
    X11Pasteboard* self = pasteboard.get();
    pasteboard->owner_ =
        X11SelectionOwner::create([self](bool ownerGone) { self->noteChange(ownerGone); }, selection);
    if (!pasteboard->owner_) {
        return nullptr;
    }
    return pasteboard;
}

X11Pasteboard::X11Pasteboard(std::unique_ptr<X11SelectionReader> reader, QObject* parent)
    : MimePasteboard(parent)
    , reader_(std::move(reader)) {}

X11Pasteboard::~X11Pasteboard() {
    // Stops the owner's thread before anything it calls back into goes away.
    owner_.reset();
}

bool X11Pasteboard::isCapturing() {
    std::lock_guard lock(cacheMutex_);
    return capture_.isActive;
}

void X11Pasteboard::setReadTimeouts(const X11SelectionReader::Timeouts& timeouts) {
    std::lock_guard lock(readerMutex_);
    reader_->setTimeouts(timeouts);
}

void X11Pasteboard::setKeepsValuesBetweenCaptures(bool keeps) {
    keepsValuesBetweenCaptures_ = keeps;
}

qint64 X11Pasteboard::cachedByteCount() {
    std::lock_guard lock(cacheMutex_);
    qint64 total = 0;
    for (const QByteArray& bytes : std::as_const(cache_.bytes)) {
        total += bytes.size();
    }
    return total;
}

// Runs on the owner's thread for every change made by another client.
void X11Pasteboard::noteChange(bool ownerGone) {
    const qint64 count = ++changeCount_;
    {
        // Large bytes of the old contents go now rather than at the next read.
        std::lock_guard lock(cacheMutex_);
        if (cache_.changeCount != count) {
            cache_ = ChangeCache{};
        }
    }
    QMetaObject::invokeMethod(
        this,
        [this, ownerGone] {
            emit changed();
            if (ownerGone) {
                emit ownerLost();
            }
        },
        Qt::QueuedConnection);
}

qint64 X11Pasteboard::changeCount() const {
    return changeCount_.load();
}

void X11Pasteboard::beginCapture() {
    // Counted before the owner is pinned: a change in between overtakes the capture rather than
    // slipping past it.
    const qint64 change = changeCount_.load();
    X11SelectionReader::Owner owner;
    {
        std::lock_guard lock(readerMutex_);
        owner = reader_->beginSession();
    }
    std::lock_guard lock(cacheMutex_);
    capture_ = Capture{true, change, owner, false, false};
    if (cache_.changeCount != change || cache_.owner != owner) {
        cache_ = ChangeCache{change, owner, {}, {}};
    }
}

bool X11Pasteboard::endCapture() {
    bool isCurrent = false;
    {
        std::lock_guard lock(readerMutex_);
        isCurrent = reader_->endSession();
    }
    std::lock_guard lock(cacheMutex_);
    isCurrent = isCurrent && !capture_.isOvertaken && changeCount_.load() == capture_.changeCount;
    capture_ = Capture{};
    if (!isCurrent) {
        cache_ = ChangeCache{};
        return false;
    }
    if (!keepsValuesBetweenCaptures_.load()) {
        cache_ = ChangeCache{};
        return true;
    }
    cache_.bytes.removeIf([](const auto& entry) { return entry.value().size() > smallValueBytes; });
    cache_.bytes.squeeze();
    return true;
}

void X11Pasteboard::interruptReads() {
    // Not under the reader's lock: the conversion it interrupts holds it.
    reader_->interrupt();
}

void X11Pasteboard::resumeReads() {
    reader_->resume();
}

QByteArrayList X11Pasteboard::offeredTargets() {
    ReadScope scope(*this);
    {
        std::lock_guard lock(cacheMutex_);
        if (cache_.changeCount == capture_.changeCount && cache_.targets) {
            return *cache_.targets;
        }
    }
    const PasteboardRead read = readTarget("TARGETS", targetsByteCap);
    QByteArrayList targets;
    if (read.status == PasteboardRead::Status::ok) {
        QList<xcb_atom_t> atoms;
        for (qsizetype at = 0; at + 4 <= read.bytes.size(); at += 4) {
            xcb_atom_t atom = 0;
            std::memcpy(&atom, read.bytes.constData() + at, 4);
            atoms << atom;
        }
        std::lock_guard readerLock(readerMutex_);
        for (const QByteArray& name : reader_->connection().atomNames(atoms)) {
            if (!name.isEmpty() && !targets.contains(name)) {
                targets << name;
            }
        }
    }
    std::lock_guard lock(cacheMutex_);
    if (cache_.changeCount == capture_.changeCount && !capture_.isOvertaken &&
        read.status == PasteboardRead::Status::ok) {
        cache_.targets = targets;
    }
    return targets;
}

PasteboardRead X11Pasteboard::readTarget(const QByteArray& target, qint64 byteCap) {
    ReadScope scope(*this);
    qint64 change = 0;
    {
        std::lock_guard lock(cacheMutex_);
        change = capture_.changeCount;
        if (changeCount_.load() != change) {
            capture_.isOvertaken = true;
        }
        if (capture_.isOvertaken || capture_.isOwnerUnresponsive) {
            return {};
        }
        if (cache_.changeCount == change) {
            auto cached = cache_.bytes.constFind(target);
            if (cached != cache_.bytes.constEnd()) {
                if (cached->size() > byteCap) {
                    return {PasteboardRead::Status::tooLarge, {}};
                }
                return {PasteboardRead::Status::ok, *cached};
            }
        }
    }
    X11SelectionReader::Result result;
    {
        std::lock_guard lock(readerMutex_);
        result = reader_->convert(target, byteCap);
    }
    std::lock_guard lock(cacheMutex_);
    if (changeCount_.load() != change) {
        // Overtaken by a newer change while the owner was answering.
        capture_.isOvertaken = true;
        return {};
    }
    switch (result.status) {
    case X11SelectionReader::Result::Status::ok:
        if (cache_.changeCount == change) {
            cache_.bytes.insert(target, result.bytes);
        }
        return {PasteboardRead::Status::ok, std::move(result.bytes)};
    case X11SelectionReader::Result::Status::tooLarge:
        return {PasteboardRead::Status::tooLarge, {}};
    case X11SelectionReader::Result::Status::timedOut:
        capture_.isOwnerUnresponsive = true;
        return {};
    case X11SelectionReader::Result::Status::overtaken:
    case X11SelectionReader::Result::Status::interrupted:
        capture_.isOvertaken = true;
        return {};
    case X11SelectionReader::Result::Status::refused:
    case X11SelectionReader::Result::Status::failed:
        return {};
    }
    return {};
}

void X11Pasteboard::write(const PasteboardContent& content) {
    owner_->own(Mapping::servedTargets(content));
    // Counted here rather than from the owner-change event this causes, which the owner's thread
    // recognises as its own and passes over: the count has moved when write() returns, once.
    ++changeCount_;
    {
        std::lock_guard lock(cacheMutex_);
        cache_ = ChangeCache{};
    }
    QMetaObject::invokeMethod(
        this, [this] { emit changed(); }, Qt::QueuedConnection);
}

} // namespace snipjar
