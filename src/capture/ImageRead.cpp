#include "capture/ImageRead.h"

#include "image/ImageTranscode.h"
#include "platform/Pasteboard.h"
#include "platform/TypeIdentifier.h"

namespace snipjar {

namespace {

std::optional<ImageRead> readTIFFFallback(Pasteboard& pasteboard, qint64 directLimit, qint64 byteCap) {
    PasteboardRead tiff = pasteboard.read(TypeIdentifier::tiff, byteCap);
    if (tiff.status != PasteboardRead::Status::ok) {
        return std::nullopt;
    }
    if (tiff.bytes.size() > directLimit) {
        if (!ImageTranscode::isDecodableImage(tiff.bytes)) {
            return std::nullopt;
        }
        return ImageRead{ImageRead::Handling::needsTranscode, std::move(tiff.bytes), TypeIdentifier::tiff};
    }
    // A small TIFF is stored as PNG, which every reader of the history can show.
    std::optional<QByteArray> png = ImageTranscode::pngFromBitmap(tiff.bytes);
    if (!png || png->size() > directLimit) {
        return std::nullopt;
    }
    return ImageRead{ImageRead::Handling::direct, std::move(*png), TypeIdentifier::png};
}

} // namespace

const std::array<const char*, 5>& preferredImageTypes() {
    static const std::array<const char*, 5> types{TypeIdentifier::heic, TypeIdentifier::jpeg,
                                                  TypeIdentifier::gif, TypeIdentifier::png,
                                                  TypeIdentifier::pdf};
    return types;
}

QStringList imageCandidateTypes(const QStringList& clipboardTypes) {
    QStringList candidates;
    for (const char* preferred : preferredImageTypes()) {
        for (const QString& type : clipboardTypes) {
            if (type == QLatin1String(preferred) && TypeIdentifier::isKnown(type)) {
                candidates.append(type);
                break;
            }
        }
    }
    for (const QString& type : clipboardTypes) {
        if (type == QLatin1String(TypeIdentifier::tiff) || candidates.contains(type) ||
            !TypeIdentifier::isKnown(type)) {
            continue;
        }
        if (TypeIdentifier::conformsToImage(type) || TypeIdentifier::isPDF(type)) {
            candidates.append(type);
        }
    }
    return candidates;
}

std::optional<ImageRead> readImage(Pasteboard& pasteboard, qint64 directLimit, qint64 byteCap) {
    return readImage(pasteboard, pasteboard.types(), directLimit, byteCap);
}

std::optional<ImageRead> readImage(Pasteboard& pasteboard, const QStringList& clipboardTypes,
                                   qint64 directLimit, qint64 byteCap) {
    for (const QString& type : imageCandidateTypes(clipboardTypes)) {
        // Each candidate's bytes go out of scope before the next one is read, so two large
        // representations are never held at once.
        PasteboardRead candidate = pasteboard.read(type, byteCap);
        if (candidate.status == PasteboardRead::Status::absent) {
            continue;
        }
        if (candidate.status == PasteboardRead::Status::tooLarge || candidate.bytes.size() > byteCap) {
            return std::nullopt;
        }
        if (!ImageTranscode::isDecodableImage(candidate.bytes)) {
            continue;
        }
        const auto handling = candidate.bytes.size() > directLimit ? ImageRead::Handling::needsTranscode
                                                                   : ImageRead::Handling::direct;
        return ImageRead{handling, std::move(candidate.bytes), type};
    }
    return readTIFFFallback(pasteboard, directLimit, byteCap);
}

} // namespace snipjar
