#include "platform/MimePasteboard.h"

#include "platform/PasteboardMimeMapping.h"
#include "platform/TypeIdentifier.h"

namespace snipjar {

namespace {

using Mapping = PasteboardMimeMapping;

// A marker's value is a short word.
constexpr qint64 markerByteCap = 1024;

QString plainTextIdentifier() {
    return QString::fromLatin1(TypeIdentifier::plainText);
}

void appendUnique(QStringList& list, const QString& value) {
    if (!list.contains(value)) {
        list << value;
    }
}

bool isMarker(const QByteArray& target) {
    return target == Mapping::passwordManagerHint || target == Mapping::clipboardState;
}

} // namespace

MimePasteboard::ReadScope::ReadScope(MimePasteboard& pasteboard)
    : pasteboard_(pasteboard)
    , ownsCapture_(!pasteboard.isCapturing()) {
    if (ownsCapture_) {
        pasteboard_.beginCapture();
    }
}

MimePasteboard::ReadScope::~ReadScope() {
    if (ownsCapture_) {
        pasteboard_.endCapture();
    }
}

QByteArray MimePasteboard::concealingMarker(const QByteArrayList& offered) {
    for (const QByteArray& target : offered) {
        if (!isMarker(target)) {
            continue;
        }
        const PasteboardRead value = readTarget(target, markerByteCap);
        if (value.status != PasteboardRead::Status::ok || Mapping::isConcealingValue(target, value.bytes)) {
            return target;
        }
    }
    return {};
}

QByteArray MimePasteboard::firstAvailable(const QByteArrayList& targets) {
    for (const QByteArray& target : targets) {
        PasteboardRead read = readTarget(target, noByteCap);
        if (read.status == PasteboardRead::Status::ok) {
            return read.bytes;
        }
    }
    return {};
}

QStringList MimePasteboard::types() {
    ReadScope scope(*this);
    const QByteArrayList offered = offeredTargets();
    const QByteArray concealing = concealingMarker(offered);
    QStringList result;
    for (const QByteArray& target : offered) {
        if (isMarker(target)) {
            appendUnique(result, target == concealing ? QString::fromLatin1(TypeIdentifier::concealedMarker)
                                                      : QString::fromLatin1(target));
            continue;
        }
        if (std::optional<QString> identifier = Mapping::identifierForTarget(target)) {
            appendUnique(result, *identifier);
        }
    }
    return result;
}

PasteboardRead MimePasteboard::read(const QString& type, qint64 byteCap) {
    ReadScope scope(*this);
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
    if (type == QLatin1String(TypeIdentifier::concealedMarker)) {
        const QByteArray concealing = concealingMarker(offered);
        if (!concealing.isEmpty()) {
            // The marker's own value, or nothing when it could not be read; either way present.
            PasteboardRead value = readTarget(concealing, byteCap);
            return {PasteboardRead::Status::ok, std::move(value.bytes)};
        }
    }
    for (const QByteArray& target : Mapping::targetsForIdentifier(type, offered)) {
        PasteboardRead read = readTarget(target, byteCap);
        if (read.status != PasteboardRead::Status::absent) {
            return read;
        }
    }
    return {};
}

PasteboardString MimePasteboard::readString(qint64 byteCap) {
    ReadScope scope(*this);
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

std::optional<QStringList> MimePasteboard::fileURLs() {
    ReadScope scope(*this);
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

std::optional<QStringList> MimePasteboard::urls() {
    ReadScope scope(*this);
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

} // namespace snipjar
