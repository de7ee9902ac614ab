#include "image/PreviewCache.h"

#include "platform/AppPaths.h"
#include "platform/LogCategories.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <vector>

namespace snipjar {

namespace {

const QLatin1String imageDigestPrefix("i:");

} // namespace

PreviewCache::PreviewCache(qint64 maxBytes)
    : folder(AppPaths::cacheFolder() + QStringLiteral("/previews"))
    , budget(maxBytes) {
    // The application's own cache folder is private too, not only the previews inside it.
    AppPaths::ensurePrivateFolder(AppPaths::cacheFolder());
    AppPaths::ensurePrivateFolder(folder);
}

QString PreviewCache::cacheKey(const QString& dedupKey, const QUuid& id) {
    if (dedupKey.startsWith(imageDigestPrefix)) {
        return dedupKey.mid(imageDigestPrefix.size());
    }
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QString PreviewCache::fileName(const QString& key, int side) {
    return key + QLatin1Char('-') + QString::number(side) + QStringLiteral(".png");
}

QString PreviewCache::filePath(const QString& key, int side) const {
    return folder + QLatin1Char('/') + fileName(key, side);
}

std::optional<QByteArray> PreviewCache::read(const QString& key, int side) const {
    QFile file(filePath(key, side));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
    // The modification time is the entry's last use, which decides what prune() keeps.
    file.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
    return bytes;
}

void PreviewCache::write(const QString& key, const QByteArray& bytes, int side) const {
    QSaveFile file(filePath(key, side));
    if (!file.open(QIODevice::WriteOnly)) {
        return;
    }
    // Applies to the temporary file, which the commit renames into place.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
    }
    file.commit();
}

void PreviewCache::prune() const {
    const QDir directory(folder);
    if (!directory.exists()) {
        return;
    }
    struct Entry {
        QString path;
        qint64 size;
        QDateTime modified;
    };
    std::vector<Entry> entries;
    qint64 total = 0;
    // Listing order is kept for entries of the same moment, so no sorting here.
    const QFileInfoList listed = directory.entryInfoList(
        QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo& info : listed) {
        // An entry that vanished or whose time cannot be read is neither counted nor deleted.
        const QDateTime modified = info.lastModified();
        if (!info.exists() || !modified.isValid()) {
            continue;
        }
        entries.push_back(Entry{info.absoluteFilePath(), info.size(), modified});
        total += info.size();
    }
    if (total <= budget) {
        return;
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& left, const Entry& right) { return left.modified < right.modified; });
    for (const Entry& entry : entries) {
        if (total <= budget) {
            break;
        }
        // A file that cannot be deleted still counts as gone: the pass ends rather than deleting
        // newer files in its place, and the next prune tries it again.
        QFile::remove(entry.path);
        total -= entry.size;
    }
    qCInfo(lcPreviewCache, "preview cache pruned to %lld bytes", static_cast<long long>(total));
}

} // namespace snipjar
