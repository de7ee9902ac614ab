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

std::unique_ptr<X11Pasteboard> X11Pasteboard::create(QObject* parent) {
    std::unique_ptr<X11SelectionReader> reader = X11SelectionReader::create();
    if (!reader) {
        return nullptr;
    }
    std::unique_ptr<X11Pasteboard> pasteboard(new X11Pasteboard(std::move(reader), parent));
    X11Pasteboard* self = pasteboard.get();
    pasteboard->owner_ = X11SelectionOwner::create([self] { self->noteChange(); });
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

void X11Pasteboard::setReadTimeouts(const X11SelectionReader::Timeouts& timeouts) {
    std::lock_guard lock(readerMutex_);
    reader_->setTimeouts(timeouts);
}

// Runs on the owner's thread for every change made by another client.
void X11Pasteboard::noteChange() {
    const qint64 count = ++changeCount_;
    {
        // Large bytes of the old contents go now rather than at the next read.
        std::lock_guard lock(cacheMutex_);
        if (cache_.changeCount != count) {
            cache_ = ChangeCache{count, {}, {}, false};
        }
    }
    QMetaObject::invokeMethod(
        this, [this] { emit changed(); }, Qt::QueuedConnection);
}

qint64 X11Pasteboard::changeCount() const {
    return changeCount_.load();
}

QByteArrayList X11Pasteboard::offeredTargets() {
    {
        std::lock_guard lock(cacheMutex_);
        if (cache_.changeCount == changeCount_ && cache_.targets) {
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
    if (cache_.changeCount == changeCount_ && read.status == PasteboardRead::Status::ok) {
        cache_.targets = targets;
    }
    return targets;
}

PasteboardRead X11Pasteboard::readTarget(const QByteArray& target, qint64 byteCap) {
    const qint64 change = changeCount_.load();
    {
        std::lock_guard lock(cacheMutex_);
        if (cache_.changeCount != change) {
            cache_ = ChangeCache{change, {}, {}, false};
        }
        if (cache_.ownerUnresponsive) {
            return {};
        }
        auto cached = cache_.bytes.constFind(target);
        if (cached != cache_.bytes.constEnd()) {
            if (cached->size() > byteCap) {
                return {PasteboardRead::Status::tooLarge, {}};
            }
            return {PasteboardRead::Status::ok, *cached};
        }
    }
    X11SelectionReader::Result result;
    {
        std::lock_guard lock(readerMutex_);
        result = reader_->convert(target, byteCap);
    }
    std::lock_guard lock(cacheMutex_);
    if (changeCount_.load() != change || cache_.changeCount != change) {
        // Overtaken by a newer change while the owner was answering.
        return {};
    }
    switch (result.status) {
    case X11SelectionReader::Result::Status::ok:
        cache_.bytes.insert(target, result.bytes);
        return {PasteboardRead::Status::ok, std::move(result.bytes)};
    case X11SelectionReader::Result::Status::tooLarge:
        return {PasteboardRead::Status::tooLarge, {}};
    case X11SelectionReader::Result::Status::timedOut:
        cache_.ownerUnresponsive = true;
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
    QStringList result;
    for (const QByteArray& target : offeredTargets()) {
        if (target == Mapping::passwordManagerHint) {
            const PasteboardRead hint = readTarget(target, hintByteCap);
            const bool secret =
                hint.status == PasteboardRead::Status::ok && Mapping::isSecretHint(hint.bytes);
            appendUnique(result, secret ? QString::fromLatin1(TypeIdentifier::concealedMarker)
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
    if (type == plainTextIdentifier()) {
        // Plain text is handed out as UTF-8 whatever the owner's encoding.
        std::optional<QString> text = string();
        if (!text) {
            return {};
        }
        QByteArray bytes = text->toUtf8();
        if (bytes.size() > byteCap) {
            return {PasteboardRead::Status::tooLarge, {}};
        }
        return {PasteboardRead::Status::ok, std::move(bytes)};
    }
    QByteArrayList candidates = Mapping::targetsForIdentifier(type, offeredTargets());
    if (type == QLatin1String(TypeIdentifier::concealedMarker) &&
        offeredTargets().contains(Mapping::passwordManagerHint)) {
        const PasteboardRead hint = readTarget(Mapping::passwordManagerHint, hintByteCap);
        if (hint.status == PasteboardRead::Status::ok && Mapping::isSecretHint(hint.bytes)) {
            candidates << Mapping::passwordManagerHint;
        }
    }
    for (const QByteArray& target : candidates) {
        PasteboardRead read = readTarget(target, byteCap);
        if (read.status != PasteboardRead::Status::absent) {
            return read;
        }
    }
    return {};
}

std::optional<QString> X11Pasteboard::string() {
    QByteArray target;
    const QByteArrayList candidates = Mapping::targetsForIdentifier(plainTextIdentifier(), offeredTargets());
    const QByteArray bytes = firstAvailable(candidates, &target);
    if (target.isEmpty()) {
        return std::nullopt;
    }
    return Mapping::decodeText(target, bytes);
}

std::optional<QStringList> X11Pasteboard::fileURLs() {
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
    const qint64 count = ++changeCount_;
    {
        std::lock_guard lock(cacheMutex_);
        cache_ = ChangeCache{count, {}, {}, false};
    }
    QMetaObject::invokeMethod(
        this, [this] { emit changed(); }, Qt::QueuedConnection);
}

} // namespace snipjar
