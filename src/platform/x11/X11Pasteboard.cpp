#include "platform/x11/X11Pasteboard.h"

#include "platform/LogCategories.h"
#include "platform/TypeIdentifier.h"
#include "platform/x11/X11PasteboardMimeMapping.h"
#include "platform/x11/X11SelectionOwner.h"

#include <QMetaObject>

#include <cstring>

namespace snipjar {

namespace {

using Mapping = X11PasteboardMimeMapping;

// A target list longer than this is not a target list.
constexpr qint64 targetsByteCap = 64 * 1024;
// The password-manager hint is a short word.
constexpr qint64 hintByteCap = 1024;

QString plainTextIdentifier() {
    return QString::fromLatin1(TypeIdentifier::plainText);
}

void appendUnique(QStringList& list, const QString& value) {
    if (!list.contains(value)) {
        list << value;
    }
}

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
    : Pasteboard(parent)
    , reader_(std::move(reader)) {}

X11Pasteboard::~X11Pasteboard() {
    // Stops the owner's thread before anything it calls back into goes away.
    owner_.reset();
}

// A read outside a capture is a capture of its own.
class X11Pasteboard::ReadScope {
public:
    explicit ReadScope(X11Pasteboard& pasteboard)
        : pasteboard_(pasteboard) {
        std::lock_guard lock(pasteboard_.cacheMutex_);
        ownsCapture_ = !pasteboard_.capture_.isActive;
    }
    ~ReadScope() {
        if (ownsCapture_) {
            pasteboard_.endCapture();
        }
    }
    void begin() {
        if (ownsCapture_) {
            pasteboard_.beginCapture();
        }
    }
    ReadScope(const ReadScope&) = delete;
    ReadScope& operator=(const ReadScope&) = delete;

private:
    X11Pasteboard& pasteboard_;
    bool ownsCapture_ = false;
};

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
    scope.begin();
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

bool X11Pasteboard::offersSecretHint(const QByteArrayList& offered) {
    if (!offered.contains(Mapping::passwordManagerHint)) {
        return false;
    }
    const PasteboardRead hint = readTarget(Mapping::passwordManagerHint, hintByteCap);
    return hint.status != PasteboardRead::Status::ok || Mapping::isSecretHint(hint.bytes);
}

PasteboardRead X11Pasteboard::readTarget(const QByteArray& target, qint64 byteCap) {
    ReadScope scope(*this);
    scope.begin();
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

QByteArray X11Pasteboard::firstAvailable(const QByteArrayList& targets, QByteArray* chosen) {
    for (const QByteArray& target : targets) {
        PasteboardRead read = readTarget(target, noByteCap);
        if (read.status == PasteboardRead::Status::ok) {
            if (chosen) {
                *chosen = target;
            }
            return read.bytes;
        }
    }
    return {};
}

QStringList X11Pasteboard::types() {
    ReadScope scope(*this);
    scope.begin();
    const QByteArrayList offered = offeredTargets();
    QStringList result;
    for (const QByteArray& target : offered) {
        if (target == Mapping::passwordManagerHint) {
            appendUnique(result, offersSecretHint(offered)
                                     ? QString::fromLatin1(TypeIdentifier::concealedMarker)
                                     : QString::fromLatin1(target));
            continue;
        }
        if (std::optional<QString> identifier = Mapping::identifierForTarget(target)) {
            appendUnique(result, *identifier);
        }
    }
    return result;
}

PasteboardRead X11Pasteboard::read(const QString& type, qint64 byteCap) {
    ReadScope scope(*this);
    scope.begin();
    if (type == plainTextIdentifier()) {
        // Plain text is handed out as UTF-8 whatever the owner's encoding.
        PasteboardString text = readString(byteCap);
        if (text.status != PasteboardRead::Status::ok) {
            return {text.status, {}};
        }
        QByteArray bytes = text.text.toUtf8();
        if (bytes.size() > byteCap) {
            return {PasteboardRead::Status::tooLarge, {}};
        }
        return {PasteboardRead::Status::ok, std::move(bytes)};
    }
    const QByteArrayList offered = offeredTargets();
    if (type == QLatin1String(TypeIdentifier::concealedMarker) && offersSecretHint(offered)) {
        // The hint's own value, or nothing when it could not be read; either way present.
        PasteboardRead hint = readTarget(Mapping::passwordManagerHint, byteCap);
        return {PasteboardRead::Status::ok, std::move(hint.bytes)};
    }
    for (const QByteArray& target : Mapping::targetsForIdentifier(type, offered)) {
        PasteboardRead read = readTarget(target, byteCap);
        if (read.status != PasteboardRead::Status::absent) {
            return read;
        }
    }
    return {};
}

PasteboardString X11Pasteboard::readString(qint64 byteCap) {
    ReadScope scope(*this);
    scope.begin();
    const QByteArrayList candidates = Mapping::targetsForIdentifier(plainTextIdentifier(), offeredTargets());
    for (const QByteArray& target : candidates) {
        PasteboardRead read = readTarget(target, byteCap);
        switch (read.status) {
        case PasteboardRead::Status::absent:
            continue;
        case PasteboardRead::Status::tooLarge:
            // Another encoding of the same text is no shorter.
            return {PasteboardRead::Status::tooLarge, {}};
        case PasteboardRead::Status::ok:
            return {PasteboardRead::Status::ok, Mapping::decodeText(target, read.bytes)};
        }
    }
    return {};
}

std::optional<QStringList> X11Pasteboard::fileURLs() {
    ReadScope scope(*this);
    scope.begin();
    const QByteArrayList offered = offeredTargets();
    QStringList entries;
    if (offered.contains(Mapping::uriList)) {
        entries = Mapping::parseURIList(firstAvailable({Mapping::uriList}));
    } else if (offered.contains(Mapping::gnomeCopiedFiles)) {
        entries = Mapping::parseGnomeCopiedFiles(firstAvailable({Mapping::gnomeCopiedFiles}));
    }
    QStringList files;
    for (const QString& entry : entries) {
        if (Mapping::isFileURL(entry)) {
            files << entry;
        }
    }
    if (files.isEmpty()) {
        return std::nullopt;
    }
    return files;
}

std::optional<QStringList> X11Pasteboard::urls() {
    ReadScope scope(*this);
    scope.begin();
    const QByteArrayList offered = offeredTargets();
    QStringList result;
    if (offered.contains(Mapping::mozURL)) {
        if (std::optional<QString> address = Mapping::parseMozURL(firstAvailable({Mapping::mozURL}))) {
            result << *address;
        }
    }
    if (offered.contains(Mapping::uriList)) {
        for (const QString& entry : Mapping::parseURIList(firstAvailable({Mapping::uriList}))) {
            appendUnique(result, entry);
        }
    }
    if (result.isEmpty()) {
        return std::nullopt;
    }
    return result;
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
