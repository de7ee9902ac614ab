#include "app/cli/ClipFlavours.h"

#include "app/cli/TextInput.h"
#include "platform/TypeIdentifier.h"

namespace snipjar {

namespace {

struct Identified {
    QString identifier;
    QByteArray bytes;
};

QList<Identified> identifiedFlavours(const Clip& clip) {
    QList<Identified> flavours;
    if (clip.kind == Clip::Kind::image) {
        if (clip.imageData) {
            flavours.append(
                {clip.dataUTI.value_or(QString::fromLatin1(TypeIdentifier::png)), *clip.imageData});
        }
        return flavours;
    }
    if (clip.kind == Clip::Kind::file) {
        QByteArray list;
        for (const QString& url : clip.fileURLs) {
            list += url.toUtf8() + "\r\n";
        }
        if (!list.isEmpty()) {
            flavours.append({QString::fromLatin1(TypeIdentifier::fileURL), list});
        }
        return flavours;
    }
    flavours.append(
        {QString::fromLatin1(TypeIdentifier::plainText), clip.plainText.value_or(clip.title()).toUtf8()});
    if (clip.richTextData) {
        flavours.append({QString::fromLatin1(TypeIdentifier::rtf), *clip.richTextData});
    }
    if (clip.htmlData) {
        flavours.append({QString::fromLatin1(TypeIdentifier::html), *clip.htmlData});
    }
    return flavours;
}

QString mimeTypeOf(const QString& identifier) {
    const QStringList types = TypeIdentifier::mimeTypes(identifier);
    return types.isEmpty() ? QStringLiteral("application/octet-stream") : types.first();
}

} // namespace

QList<ClipFlavours::Flavour> ClipFlavours::of(const Clip& clip) {
    QList<Flavour> flavours;
    for (Identified& flavour : identifiedFlavours(clip)) {
        flavours.append({mimeTypeOf(flavour.identifier), std::move(flavour.bytes)});
    }
    return flavours;
}

std::optional<QByteArray> ClipFlavours::bytes(const Clip& clip, const QString& mimeType) {
    const std::optional<QString> wanted = TypeIdentifier::fromMimeType(mimeType.trimmed());
    for (Identified& flavour : identifiedFlavours(clip)) {
        if (flavour.identifier == wanted ||
            mimeTypeOf(flavour.identifier).compare(mimeType.trimmed(), Qt::CaseInsensitive) == 0) {
            return std::move(flavour.bytes);
        }
    }
    return std::nullopt;
}

bool ClipFlavours::isBinary(const QByteArray& bytes) {
    return !bytes.isEmpty() && !TextInput::decode(bytes);
}

} // namespace snipjar
