#include "app/cli/HistoryExport.h"

#include "app/HistoryListing.h"

#include "app/cli/HistoryArchive.h"
#include "app/cli/TarStream.h"
#include "platform/AppIdentity.h"
#include "store/HistoryReader.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace snipjar {

namespace {

constexpr qint64 copyChunkBytes = 1 << 20;

QByteArray manifest(int clips, int payloads, int skipped) {
    QJsonObject object;
    object.insert(QStringLiteral("format"), HistoryArchive::formatName);
    object.insert(QStringLiteral("version"), HistoryArchive::formatVersion);
    object.insert(QStringLiteral("app"), AppIdentity::version());
    object.insert(QStringLiteral("clips"), clips);
    object.insert(QStringLiteral("payloads"), payloads);
    object.insert(QStringLiteral("unreadable"), skipped);
    QByteArray text = QJsonDocument(object).toJson(QJsonDocument::Compact);
    text += QByteArray(HistoryArchive::manifestBytes - 1 - text.size(), ' ');
    return text + '\n';
}

QJsonObject lineOf(const HistoryEntry& entry, const Clip& clip, const QString& deviceName) {
    const ClipItem& item = entry.item;
    QJsonObject object;
    object.insert(QStringLiteral("id"), item.id.toString(QUuid::WithoutBraces).toUpper());
    object.insert(QStringLiteral("kind"), item.kindRaw);
    object.insert(QStringLiteral("title"), item.title);
    object.insert(QStringLiteral("device"), item.deviceID);
    object.insert(QStringLiteral("deviceName"), deviceName);
    object.insert(QStringLiteral("pinned"), item.pinned);
    object.insert(QStringLiteral("createdAt"), item.createdAt.toUTC().toString(Qt::ISODateWithMs));
    object.insert(QStringLiteral("store"), HistoryListing::storeName(entry.store));
    object.insert(QStringLiteral("byteSize"), item.byteSize);
    object.insert(QStringLiteral("dedupKey"), item.dedupKey);
    if (clip.sourceBundleID) {
        object.insert(QStringLiteral("sourceApp"), *clip.sourceBundleID);
    }
    if (clip.sourceName) {
        object.insert(QStringLiteral("sourceName"), *clip.sourceName);
    }
    if (clip.dataUTI) {
        object.insert(QStringLiteral("dataType"), *clip.dataUTI);
    }
    if (!clip.fileURLs.isEmpty()) {
        object.insert(QStringLiteral("files"), QJsonArray::fromStringList(clip.fileURLs));
    }
    if (item.pixelWidth && item.pixelHeight) {
        object.insert(QStringLiteral("pixelWidth"), *item.pixelWidth);
        object.insert(QStringLiteral("pixelHeight"), *item.pixelHeight);
    }
    return object;
}

bool syncToDisk(QFile& file) {
    return file.flush() && ::fsync(file.handle()) == 0;
}

void syncFolder(const QString& folder) {
    const int descriptor = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        ::fsync(descriptor);
        ::close(descriptor);
    }
}

} // namespace

CommandOutcome HistoryExport::write(const QString& path, const HistoryReader& reader) {
    QList<HistoryEntry> entries = reader.items();
    // Concealed clips are never filed; one that is found anyway stays out of the archive.
    entries.removeIf([](const HistoryEntry& entry) { return entry.item.concealed; });
    std::stable_sort(entries.begin(), entries.end(), [](const HistoryEntry& a, const HistoryEntry& b) {
        return a.item.pinned && !b.item.pinned;
    });
    QHash<QString, QString> deviceNames;
    for (const Device& device : reader.devices()) {
        deviceNames.insert(device.id, device.name);
    }

    const QString partPath = path + QStringLiteral(".part");
    QFile::remove(partPath);
    QFile out(partPath);
    const QString folder = QFileInfo(path).absolutePath();
    QTemporaryFile lines(folder + QStringLiteral("/.snipjar-export-XXXXXX"));
    auto failed = [&](const QString& why) {
        out.close();
        QFile::remove(partPath);
        return CommandOutcome::failure(QStringLiteral("%1 cannot be written: %2").arg(path, why));
    };
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        return failed(out.errorString());
    }
    if (!lines.open()) {
        return failed(lines.errorString());
    }

    TarWriter tar(out);
    if (!tar.member(HistoryArchive::manifestName, manifest(0, 0, 0))) {
        return failed(out.errorString());
    }
    int clips = 0;
    int payloads = 0;
    int unreadable = 0;
    for (const HistoryEntry& entry : std::as_const(entries)) {
        const std::optional<Clip> clip = reader.loadClip(entry.item.id);
        if (!clip || clip->concealed) {
            ++unreadable;
            continue;
        }
        QJsonObject sizes;
        const std::optional<QByteArray> contents[] = {
            clip->plainText ? std::optional(clip->plainText->toUtf8()) : std::nullopt, clip->richTextData,
            clip->imageData, clip->htmlData};
        static_assert(std::size(contents) == HistoryArchive::payloadTypeCount);
        for (int type = 0; type < HistoryArchive::payloadTypeCount; ++type) {
            if (!contents[type]) {
                continue;
            }
            const QString name = QStringLiteral("payloads/%1.%2")
                                     .arg(clips)
                                     .arg(QLatin1String(HistoryArchive::payloadTypes[type]));
            if (!tar.member(name, *contents[type])) {
                return failed(out.errorString());
            }
            sizes.insert(QLatin1String(HistoryArchive::payloadTypes[type]), contents[type]->size());
            ++payloads;
        }
        QJsonObject line = lineOf(entry, *clip, deviceNames.value(entry.item.deviceID));
        line.insert(QStringLiteral("payloads"), sizes);
        if (lines.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n') < 0) {
            return failed(lines.errorString());
        }
        ++clips;
    }

    if (!lines.flush() || !lines.seek(0) || !tar.begin(HistoryArchive::clipsName, lines.size())) {
        return failed(out.errorString());
    }
    QByteArray chunk;
    while (!(chunk = lines.read(copyChunkBytes)).isEmpty()) {
        if (!tar.write(chunk)) {
            return failed(out.errorString());
        }
    }
    if (!tar.end() || !tar.finish()) {
        return failed(out.errorString());
    }
    // The counts, now that they are known, over the placeholder of the same size.
    if (!out.seek(512) || out.write(manifest(clips, payloads, unreadable)) != HistoryArchive::manifestBytes ||
        !syncToDisk(out)) {
        return failed(out.errorString());
    }
    out.close();
    if (::rename(QFile::encodeName(partPath).constData(), QFile::encodeName(path).constData()) != 0) {
        return failed(QString::fromLocal8Bit(std::strerror(errno)));
    }
    syncFolder(folder);
    QString report = QStringLiteral("exported %1 clips to %2").arg(clips).arg(path);
    if (unreadable > 0) {
        report += QStringLiteral("; %1 could not be read and were left out").arg(unreadable);
    }
    return CommandOutcome::success(report.toUtf8() + '\n');
}

} // namespace snipjar
