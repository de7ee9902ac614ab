#include "app/cli/ClipInput.h"

#include "app/cli/TextInput.h"
#include "image/ImageTranscode.h"
#include "panel/RtfReader.h"
#include "platform/TypeIdentifier.h"
#include "store/ClipStore.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QStringDecoder>
#include <QTextDocument>
#include <QUrl>

namespace snipjar {

namespace {

using Kind = CommandLine::Content::Kind;
static_assert(TextInput::largestBytes == ClipStore::largestClipBytes);

// The kind `add --mime TYPE` reads standard input as: the forms a clip can be filed with.
std::optional<Kind> kindForMimeType(const QString& mimeType) {
    const std::optional<QString> identifier = TypeIdentifier::fromMimeType(mimeType);
    if (!identifier) {
        return std::nullopt;
    }
    if (*identifier == QLatin1String(TypeIdentifier::plainText)) {
        return Kind::text;
    }
    if (*identifier == QLatin1String(TypeIdentifier::rtf)) {
        return Kind::rich;
    }
    if (*identifier == QLatin1String(TypeIdentifier::html)) {
        return Kind::html;
    }
    if (TypeIdentifier::conformsToImage(*identifier)) {
        return Kind::image;
    }
    return std::nullopt;
}

} // namespace

std::optional<QByteArray> ClipInput::readCapped(FILE* input, qint64 cap) {
    return TextInput::readCapped(input, cap);
}

ClipInput::Result ClipInput::read(const CommandLine& commandLine, FILE* input) {
    if (!commandLine.files.isEmpty()) {
        return fromFiles(commandLine.files);
    }
    Kind kind = Kind::text;
    if (commandLine.mimeType) {
        const std::optional<Kind> typed = kindForMimeType(*commandLine.mimeType);
        if (!typed) {
            return QStringLiteral("add --mime takes text/plain, text/html, text/rtf or an image type, not %1")
                .arg(*commandLine.mimeType);
        }
        kind = *typed;
    } else if (commandLine.kind == QLatin1String("rich")) {
        kind = Kind::rich;
    } else if (commandLine.kind == QLatin1String("image")) {
        kind = Kind::image;
    }
    if (commandLine.text) {
        if (kind != Kind::text) {
            return QStringLiteral("--text adds text only; give rich text or an image on standard input");
        }
        return fromBytes(kind, commandLine.text->toUtf8());
    }
    std::optional<QByteArray> bytes = readCapped(input, ClipStore::largestClipBytes);
    if (!bytes) {
        return TextInput::tooLarge();
    }
    return fromBytes(kind, std::move(*bytes));
}

ClipInput::Result ClipInput::fromBytes(Kind kind, QByteArray bytes) {
    if (bytes.isEmpty()) {
        return TextInput::empty();
    }
    if (bytes.size() > ClipStore::largestClipBytes) {
        return TextInput::tooLarge();
    }
    CommandLine::Content content;
    content.kind = kind;
    switch (kind) {
    case Kind::text: {
        std::optional<QString> text = TextInput::decode(bytes);
        if (!text) {
            return TextInput::notText();
        }
        content.text = std::move(*text);
        break;
    }
    case Kind::rich: {
        if (!RtfReader::isRtf(bytes)) {
            return QStringLiteral("the input is not RTF; nothing was added");
        }
        const std::unique_ptr<QTextDocument> document = RtfReader::read(bytes);
        content.text = document ? document->toPlainText() : QString();
        content.bytes = std::move(bytes);
        break;
    }
    case Kind::html: {
        // The history shows, searches and de-duplicates the HTML by its words, as a browser's
        // copy is; the HTML itself is kept beside them.
        std::optional<QString> html = TextInput::decode(bytes);
        if (!html) {
            return TextInput::notText();
        }
        QTextDocument document;
        document.setHtml(*html);
        // Images stand in the plain text as object replacement characters, which are no words.
        content.text = document.toPlainText().remove(QChar::ObjectReplacementCharacter);
        if (content.text.trimmed().isEmpty()) {
            return QStringLiteral("the HTML holds no text; nothing was added");
        }
        content.bytes = std::move(bytes);
        break;
    }
    case Kind::image:
        if (!ImageTranscode::isDecodableImage(bytes)) {
            return QStringLiteral("the input is not an image Snipjar can read; nothing was added");
        }
        content.bytes = std::move(bytes);
        break;
    case Kind::file:
        return QStringLiteral("files are added with --file PATH");
    }
    return content;
}

ClipInput::Result ClipInput::fromFiles(const QStringList& paths) {
    CommandLine::Content content;
    content.kind = Kind::file;
    for (const QString& path : paths) {
        if (!QFileInfo::exists(path)) {
            return QStringLiteral("no such file: %1; nothing was added").arg(path);
        }
        content.fileURLs << QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
    }
    return content;
}

Clip ClipInput::clipOf(const CommandLine::Content& content) {
    Clip clip;
    switch (content.kind) {
    case Kind::text:
        clip.kind = Clip::Kind::text;
        clip.plainText = content.text;
        break;
    case Kind::html:
        clip.kind = Clip::Kind::text;
        clip.plainText = content.text;
        clip.htmlData = content.bytes;
        break;
    case Kind::rich:
        clip.kind = Clip::Kind::richText;
        clip.richTextData = content.bytes;
        if (!content.text.isEmpty()) {
            clip.plainText = content.text;
        }
        break;
    case Kind::image: {
        clip.kind = Clip::Kind::image;
        clip.imageData = content.bytes;
        const QString mimeType = QMimeDatabase().mimeTypeForData(content.bytes).name();
        clip.dataUTI =
            TypeIdentifier::fromMimeType(mimeType).value_or(QString::fromLatin1(TypeIdentifier::png));
        break;
    }
    case Kind::file:
        clip.kind = Clip::Kind::file;
        clip.fileURLs = content.fileURLs;
        break;
    }
    return clip;
}

} // namespace snipjar
