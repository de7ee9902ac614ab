#include "app/cli/HistoryImport.h"

#include "app/cli/HistoryAccess.h"
#include "app/cli/HistoryArchive.h"
#include "app/cli/TarStream.h"
#include "store/ClipStore.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <limits>

namespace snipjar {

namespace {

constexpr qint64 readChunkBytes = 1 << 20;

// One line of clips.jsonl, as far as filing needs it.
struct ClipLine {
    QString kind;
    QDateTime createdAt;
    bool pinned = false;
    QString dedupKey;
    std::optional<QString> sourceApp;
    std::optional<QString> sourceName;
    std::optional<QString> dataType;
    QStringList files;
    // The computer the clip was copied on; empty for this one (or an id no computer has).
    QString device;
    QString deviceName;
    qint64 sizes[HistoryArchive::payloadTypeCount] = {-1, -1, -1, -1};
};

// Device ids are UUIDs or, from older versions, other short printable names.
QString checkedDevice(const QJsonObject& object) {
    static const QRegularExpression deviceID(QStringLiteral("^[0-9A-Za-z._:{}-]{1,128}$"));
    const QString device = object.value(QStringLiteral("device")).toString();
    return deviceID.match(device).hasMatch() ? device : QString();
}

std::optional<QString> optionalString(const QJsonObject& object, const QString& key) {
    const QJsonValue value = object.value(key);
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

std::optional<ClipLine> parseLine(const QByteArray& text) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    ClipLine line;
    line.kind = object.value(QStringLiteral("kind")).toString();
    line.createdAt =
        QDateTime::fromString(object.value(QStringLiteral("createdAt")).toString(), Qt::ISODateWithMs);
    if (line.kind.isEmpty() || !line.createdAt.isValid()) {
        return std::nullopt;
    }
    line.pinned = object.value(QStringLiteral("pinned")).toBool();
    line.dedupKey = object.value(QStringLiteral("dedupKey")).toString();
    line.sourceApp = optionalString(object, QStringLiteral("sourceApp"));
    line.sourceName = optionalString(object, QStringLiteral("sourceName"));
    line.dataType = optionalString(object, QStringLiteral("dataType"));
    line.device = checkedDevice(object);
    line.deviceName = object.value(QStringLiteral("deviceName")).toString().left(255);
    for (const QJsonValue& url : object.value(QStringLiteral("files")).toArray()) {
        line.files << url.toString();
    }
    const QJsonObject sizes = object.value(QStringLiteral("payloads")).toObject();
    for (auto it = sizes.begin(); it != sizes.end(); ++it) {
        int type = 0;
        while (type < HistoryArchive::payloadTypeCount &&
               it.key() != QLatin1String(HistoryArchive::payloadTypes[type])) {
            ++type;
        }
        const qint64 size = it.value().toInteger(-1);
        if (type == HistoryArchive::payloadTypeCount || size < 0) {
            return std::nullopt;
        }
        line.sizes[type] = size;
    }
    return line;
}

// The lines of one archive member, each at most largestLineBytes long, read in chunks.
class LineReader {
public:
    LineReader(QIODevice& device, qint64 size)
        : device(device)
        , remaining(size) {}

    // The next line; none at the end of the member or, with tooLong set, at a line over the cap.
    std::optional<QByteArray> next() {
        while (true) {
            const qsizetype end = buffer.indexOf('\n', start);
            if (end >= 0 || remaining == 0) {
                if (end < 0 && start == buffer.size()) {
                    return std::nullopt;
                }
                const qsizetype stop = end >= 0 ? end : buffer.size();
                QByteArray line = buffer.sliced(start, stop - start);
                start = end >= 0 ? end + 1 : buffer.size();
                if (line.size() > HistoryArchive::largestLineBytes) {
                    tooLong = true;
                    return std::nullopt;
                }
                return line;
            }
            if (buffer.size() - start > HistoryArchive::largestLineBytes) {
                tooLong = true;
                return std::nullopt;
            }
            buffer.remove(0, start);
            start = 0;
            const QByteArray chunk = device.read(std::min(remaining, readChunkBytes));
            if (chunk.isEmpty()) {
                remaining = 0;
                continue;
            }
            remaining -= chunk.size();
            buffer += chunk;
        }
    }

    bool tooLong = false;

private:
    QIODevice& device;
    qint64 remaining;
    QByteArray buffer;
    qsizetype start = 0;
};

QString damaged(const QString& what) {
    return QStringLiteral("the archive is damaged (%1); nothing was imported").arg(what);
}

// The lines of a checked archive against its payload members: each line names exactly the
// members that follow for it, with their sizes.
std::optional<QString> checkLines(QIODevice& device, HistoryImport::Plan& plan) {
    if (!device.seek(plan.linesOffset)) {
        return damaged(QStringLiteral("clips.jsonl cannot be read"));
    }
    LineReader reader(device, plan.linesSize);
    size_t payload = 0;
    int count = 0;
    while (const std::optional<QByteArray> text = reader.next()) {
        const std::optional<ClipLine> line = parseLine(*text);
        if (!line || count >= plan.clips) {
            return damaged(line ? QStringLiteral("more clips than its header says")
                                : QStringLiteral("clip line %1 cannot be read").arg(count + 1));
        }
        for (int type = 0; type < HistoryArchive::payloadTypeCount; ++type) {
            const bool present = payload < plan.payloads.size() && plan.payloads[payload].clip == count &&
                                 plan.payloads[payload].type == type;
            if (present != (line->sizes[type] >= 0) ||
                (present && plan.payloads[payload].size != line->sizes[type])) {
                return damaged(QStringLiteral("clip line %1 does not match its content").arg(count + 1));
            }
            payload += present ? 1 : 0;
        }
        ++count;
    }
    if (reader.tooLong) {
        return damaged(
            QStringLiteral("a clip line is longer than %1 bytes").arg(HistoryArchive::largestLineBytes));
    }
    if (count != plan.clips || payload != plan.payloads.size()) {
        return damaged(QStringLiteral("fewer clips than its header says"));
    }
    return std::nullopt;
}

} // namespace

std::variant<HistoryImport::Plan, QString> HistoryImport::check(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
    }
    TarReader tar(file, std::numeric_limits<qint64>::max());
    auto refused = [&](const QString& fallback) -> QString {
        return tar.error() ? *tar.error() + QStringLiteral("; nothing was imported") : fallback;
    };
    const QString foreign = QStringLiteral("%1 is not a Snipjar export; nothing was imported").arg(path);

    const std::optional<TarReader::Member> head = tar.next();
    if (!head || head->name != HistoryArchive::manifestName || head->size != HistoryArchive::manifestBytes) {
        return refused(foreign);
    }
    QByteArray text(head->size, '\0');
    if (tar.read(text.data(), head->size) != head->size) {
        return damaged(QStringLiteral("it is truncated"));
    }
    const QJsonObject manifest = QJsonDocument::fromJson(text).object();
    if (manifest.value(QStringLiteral("format")).toString() != HistoryArchive::formatName) {
        return foreign;
    }
    const int version = manifest.value(QStringLiteral("version")).toInt(-1);
    if (version < HistoryArchive::oldestReadVersion || version > HistoryArchive::formatVersion) {
        return QStringLiteral(
                   "%1 is an export of version %2; this Snipjar reads version %3; nothing was imported")
            .arg(path)
            .arg(version)
            .arg(HistoryArchive::formatVersion);
    }
    Plan plan;
    plan.path = path;
    plan.clips = manifest.value(QStringLiteral("clips")).toInt(-1);
    const int payloadCount = manifest.value(QStringLiteral("payloads")).toInt(-1);
    if (plan.clips < 0 || plan.clips > HistoryArchive::largestClipCount || payloadCount < 0 ||
        payloadCount > HistoryArchive::payloadTypeCount * plan.clips) {
        return damaged(QStringLiteral("its header gives counts no export has"));
    }

    static const QRegularExpression payloadName(
        QStringLiteral("^payloads/(0|[1-9][0-9]{0,8})\\.(text|rich|image|html)$"));
    while (const std::optional<TarReader::Member> member = tar.next()) {
        if (member->name == HistoryArchive::clipsName) {
            if (member->size > qint64(plan.clips) * (HistoryArchive::largestLineBytes + 1)) {
                return damaged(QStringLiteral("clips.jsonl is larger than its clips can be"));
            }
            plan.linesOffset = member->offset;
            plan.linesSize = member->size;
            if (const std::optional<QString> problem = checkLines(file, plan)) {
                return *problem;
            }
            // clips.jsonl is the last member.
            if (tar.next() || tar.error()) {
                return refused(damaged(QStringLiteral("more members than its header says")));
            }
            return plan;
        }
        const QRegularExpressionMatch match = payloadName.match(member->name);
        if (!match.hasMatch()) {
            return QStringLiteral(
                       "the archive holds a member no Snipjar export has: \"%1\"; nothing was imported")
                .arg(member->name);
        }
        Payload payload{match.captured(1).toInt(), 0, member->offset, member->size};
        while (match.captured(2) != QLatin1String(HistoryArchive::payloadTypes[payload.type])) {
            ++payload.type;
        }
        const bool inOrder =
            plan.payloads.empty() || plan.payloads.back().clip < payload.clip ||
            (plan.payloads.back().clip == payload.clip && plan.payloads.back().type < payload.type);
        if (payload.clip >= plan.clips || !inOrder || int(plan.payloads.size()) >= payloadCount) {
            return damaged(QStringLiteral("more members than its header says, or out of order"));
        }
        if (payload.size > ClipStore::largestClipBytes) {
            return damaged(QStringLiteral("\"%1\" is larger than any clip").arg(member->name));
        }
        plan.payloads.push_back(payload);
    }
    return refused(damaged(QStringLiteral("it has no clips.jsonl")));
}

HistoryImport::Result HistoryImport::file(const Plan& plan, ClipStore& store, QSet<QString> knownKeys) {
    Result result;
    QFile lines(plan.path);
    QFile data(plan.path);
    if (!lines.open(QIODevice::ReadOnly) || !data.open(QIODevice::ReadOnly) ||
        !lines.seek(plan.linesOffset)) {
        result.failure = QStringLiteral("%1 cannot be read").arg(plan.path);
        return result;
    }
    LineReader reader(lines, plan.linesSize);
    size_t next = 0;
    for (int index = 0; index < plan.clips; ++index) {
        const std::optional<QByteArray> text = reader.next();
        const std::optional<ClipLine> line = text ? parseLine(*text) : std::nullopt;
        if (!line) {
            result.failure = QStringLiteral("%1 changed while it was imported").arg(plan.path);
            return result;
        }
        Clip clip;
        clip.kind = clipKindFromRaw(line->kind);
        bool readable = clip.kind != ClipKind::unknown;
        for (; next < plan.payloads.size() && plan.payloads[next].clip == index; ++next) {
            const Payload& payload = plan.payloads[next];
            QByteArray bytes;
            if (data.seek(payload.offset)) {
                bytes = data.read(payload.size);
            }
            readable = readable && bytes.size() == payload.size;
            switch (payload.type) {
            case 0:
                clip.plainText = QString::fromUtf8(bytes);
                break;
            case 1:
                clip.richTextData = std::move(bytes);
                break;
            case 3:
                clip.htmlData = std::move(bytes);
                break;
            default:
                clip.imageData = std::move(bytes);
                break;
            }
        }
        clip.dataUTI = line->dataType;
        clip.fileURLs = line->files;
        clip.sourceBundleID = line->sourceApp;
        clip.sourceName = line->sourceName;
        if (!readable || clip.byteSize() == 0 || clip.byteSize() > ClipStore::largestClipBytes) {
            ++result.unreadable;
            continue;
        }
        const QString key = clip.dedupKey();
        if (knownKeys.contains(key) || (!line->dedupKey.isEmpty() && knownKeys.contains(line->dedupKey))) {
            ++result.alreadyThere;
            continue;
        }
        const bool localOnly = clip.isLocalOnly();
        ModelContainer& container = localOnly ? store.localContainer() : store.syncContainer();
        const std::unique_ptr<ModelContext> context = container.newContext();
        // A clip copied on another computer stays that computer's; one of this computer stays its own.
        const QString device = line->device == store.thisDeviceID() ? QString() : line->device;
        const ClipStore::Filing filing = store.file(clip, *context, line->createdAt.toUTC(), device);
        if (filing.outcome == ClipStore::Filing::Outcome::failed) {
            result.failure = QStringLiteral("the history store could not save a clip");
            return result;
        }
        if (filing.outcome == ClipStore::Filing::Outcome::skipped || filing.changes.isEmpty()) {
            ++result.unreadable;
            continue;
        }
        ++result.imported;
        if (!device.isEmpty() && !result.devices.contains(device)) {
            result.devices.insert(device, line->deviceName);
        }
        knownKeys.insert(key);
        knownKeys.insert(line->dedupKey);
        if (!localOnly) {
            result.syncChanges += filing.changes;
        }
        // The filed item's own change comes last, after the deletions the limits made.
        if (line->pinned) {
            result.toPin << filing.changes.last().id;
        }
    }
    return result;
}

CommandOutcome HistoryImport::finish(const Result& result, ClipStore& store, HistoryAccess& access) {
    if (store.onSyncChange) {
        for (const ClipSyncChange& change : result.syncChanges) {
            store.onSyncChange(change);
        }
    }
    for (auto device = result.devices.begin(); device != result.devices.end(); ++device) {
        store.rememberDevice(Device{device.key(), device.value(), std::nullopt});
    }
    for (const QUuid& id : result.toPin) {
        if (const std::optional<ClipItem> item = store.item(id); item && !item->pinned) {
            store.togglePin(id);
        }
    }
    if (result.imported > 0) {
        access.changed();
    }
    const QString report =
        QStringLiteral("imported %1 clips; skipped %2 already in the history, %3 unreadable")
            .arg(result.imported)
            .arg(result.alreadyThere)
            .arg(result.unreadable);
    if (result.failure) {
        return CommandOutcome::failure(*result.failure + QStringLiteral(" (") + report + QStringLiteral(")"));
    }
    return CommandOutcome::success(report.toUtf8() + '\n');
}

QSet<QString> HistoryImport::keysOf(HistoryAccess& access) {
    QSet<QString> keys;
    for (const HistoryEntry& entry : access.entries()) {
        keys.insert(entry.item.dedupKey);
    }
    return keys;
}

CommandOutcome HistoryImport::run(const QString& path, HistoryAccess& access) {
    std::variant<Plan, QString> checked = check(path);
    if (const QString* problem = std::get_if<QString>(&checked)) {
        return CommandOutcome::failure(*problem);
    }
    ClipStore* const store = access.store();
    if (!store) {
        return CommandOutcome::failure(QStringLiteral("the history store cannot be opened"));
    }
    const Result result = file(std::get<Plan>(checked), *store, keysOf(access));
    return finish(result, *store, access);
}

} // namespace snipjar
