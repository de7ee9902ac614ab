#include "app/cli/ListCommand.h"

#include "app/HistoryListing.h"
#include "app/cli/ClipFlavours.h"
#include "app/cli/ClipIds.h"
#include "app/cli/HistoryAccess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace snipjar {

namespace {

std::optional<QString> storedKind(const std::optional<QString>& kind) {
    if (kind == QLatin1String("rich")) {
        return clipKindRaw(ClipKind::richText);
    }
    return kind;
}

// The rows `list` (no query) or `search` (the query) print, filtered by the options both take.
// show --list-types: one MIME type a line, or with --json an array of {"type", "size"}.
CommandOutcome listTypes(const Clip& clip, bool json) {
    QByteArray text;
    QJsonArray array;
    for (const ClipFlavours::Flavour& flavour : ClipFlavours::of(clip)) {
        text += flavour.mimeType.toUtf8() + '\n';
        array.append(QJsonObject{{QStringLiteral("type"), flavour.mimeType},
                                 {QStringLiteral("size"), qint64(flavour.bytes.size())}});
    }
    return CommandOutcome::success(json ? QJsonDocument(array).toJson() : text);
}

CommandOutcome print(const CommandLine& commandLine, HistoryAccess& access, std::optional<QString> query) {
    HistoryListing listing(access.entries(), access.devices());
    listing.keep({storedKind(commandLine.kind), commandLine.pinnedOnly, commandLine.device, std::move(query),
                  commandLine.since, commandLine.until});
    if (commandLine.json) {
        return CommandOutcome::success(listing.json(commandLine.limit));
    }
    return CommandOutcome::success(listing.text(commandLine.limit, commandLine.nulSeparated ? '\0' : '\n'));
}

} // namespace

CommandOutcome ListCommand::list(const CommandLine& commandLine, HistoryAccess& access) {
    return print(commandLine, access, std::nullopt);
}

CommandOutcome ListCommand::search(const CommandLine& commandLine, HistoryAccess& access) {
    return print(commandLine, access, commandLine.query);
}

CommandOutcome ListCommand::show(const CommandLine& commandLine, HistoryAccess& access) {
    const auto resolved = ClipIds::resolve(commandLine.ids.value(0), access.entries());
    if (const QString* error = std::get_if<QString>(&resolved)) {
        return CommandOutcome::failure(*error);
    }
    const HistoryEntry& entry = std::get<HistoryEntry>(resolved);
    const std::optional<Clip> clip = access.loadClip(entry.item.id);
    if (!clip) {
        return CommandOutcome::failure(
            QStringLiteral("the content of clip %1 cannot be read").arg(ClipIds::printed(entry.item.id)));
    }
    if (commandLine.listTypes) {
        return listTypes(*clip, commandLine.json);
    }
    QByteArray content;
    if (commandLine.mimeType) {
        std::optional<QByteArray> bytes = ClipFlavours::bytes(*clip, *commandLine.mimeType);
        if (!bytes) {
            return CommandOutcome::failure(
                QStringLiteral("clip %1 holds no %2 (show --list-types %1 lists what it holds)")
                    .arg(ClipIds::printed(entry.item.id), *commandLine.mimeType));
        }
        content = std::move(*bytes);
    } else {
        content = contentOf(*clip, commandLine.raw);
    }
    if (!commandLine.force && ClipFlavours::isBinary(content)) {
        return CommandOutcome::binaryOutput(std::move(content));
    }
    return CommandOutcome::success(std::move(content));
}

QByteArray ListCommand::contentOf(const Clip& clip, bool raw) {
    switch (clip.kind) {
    case Clip::Kind::image:
        return clip.imageData.value_or(QByteArray());
    case Clip::Kind::file: {
        QStringList lines;
        for (const QString& url : clip.fileURLs) {
            const QUrl parsed(url);
            lines << (raw || !parsed.isLocalFile() ? url : parsed.toLocalFile());
        }
        return lines.isEmpty() ? QByteArray() : (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
    }
    case Clip::Kind::richText:
        if (raw && clip.richTextData) {
            return *clip.richTextData;
        }
        break;
    default:
        break;
    }
    return clip.plainText.value_or(clip.title()).toUtf8();
}

} // namespace snipjar
