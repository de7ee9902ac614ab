#include "sync/ImageAssetFiles.h"

#include "platform/AppPaths.h"
#include "platform/PrivateFiles.h"
#include "sync/RecordNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <map>
#include <mutex>

namespace snipjar::sync {

namespace {

const QString filePrefix = QStringLiteral("snipjar-");
const QString fileSuffix = QStringLiteral(".img");

std::mutex registryMutex;
// Record name to the files written for it.
std::multimap<QString, QString>& registry() {
    static std::multimap<QString, QString> files;
    return files;
}

bool isOurs(const QString& path) {
    const QFileInfo info(path);
    const QString parent = info.absolutePath();
    return (parent == QDir(ImageAssetFiles::folder()).absolutePath() ||
            parent == QDir(ImageAssetFiles::fallbackFolder()).absolutePath()) &&
           info.fileName().startsWith(filePrefix) && info.fileName().endsWith(fileSuffix);
}

} // namespace

QString ImageAssetFiles::folder() {
    return AppPaths::runtimeFolder() + QStringLiteral("/outgoing-assets");
}

QString ImageAssetFiles::fallbackFolder() {
    return AppPaths::cacheFolder() + QStringLiteral("/outgoing-assets");
}

std::optional<cloud::Asset> ImageAssetFiles::write(const QByteArray& bytes, const QString& recordName) {
    // The runtime folder is usually a small memory-backed file system; a batch of large images that
    // does not fit there goes to the cache folder on disk rather than travel without its images.
    const std::pair<QString, QString> places[] = {{AppPaths::runtimeFolder(), folder()},
                                                  {AppPaths::cacheFolder(), fallbackFolder()}};
    for (const auto& [parent, target] : places) {
        if (!AppPaths::ensurePrivateFolder(parent) || !AppPaths::ensurePrivateFolder(target)) {
            continue;
        }
        const QString path =
            target + QLatin1Char('/') + filePrefix + RecordNames::uuidText(QUuid::createUuid()) + fileSuffix;
        if (!PrivateFiles::writeFile(path, bytes, PrivateFiles::Durability::Buffered)) {
            continue;
        }
        std::lock_guard lock(registryMutex);
        registry().emplace(recordName, path);
        return cloud::Asset{path};
    }
    return std::nullopt;
}

void ImageAssetFiles::discard(const QString& recordName) {
    QStringList paths;
    {
        std::lock_guard lock(registryMutex);
        const auto [first, last] = registry().equal_range(recordName);
        for (auto entry = first; entry != last; ++entry) {
            paths.append(entry->second);
        }
        registry().erase(first, last);
    }
    for (const QString& path : paths) {
        QFile::remove(path);
    }
}

void ImageAssetFiles::discard(const cloud::CloudRecord& record) {
    discard(record.recordName());
    const std::optional<cloud::Asset> asset = record.asset(QStringLiteral("imageAsset"));
    if (asset && isOurs(asset->filePath)) {
        {
            std::lock_guard lock(registryMutex);
            for (auto entry = registry().begin(); entry != registry().end();) {
                entry = entry->second == asset->filePath ? registry().erase(entry) : std::next(entry);
            }
        }
        QFile::remove(asset->filePath);
    }
}

void ImageAssetFiles::discardAll() {
    {
        std::lock_guard lock(registryMutex);
        registry().clear();
    }
    for (const QString& path : {folder(), fallbackFolder()}) {
        QDir dir(path);
        const QStringList names =
            dir.entryList({filePrefix + QLatin1Char('*') + fileSuffix, filePrefix + QStringLiteral("*.tmp")},
                          QDir::Files | QDir::Hidden);
        for (const QString& name : names) {
            dir.remove(name);
        }
    }
}

int ImageAssetFiles::outstandingCount() {
    std::lock_guard lock(registryMutex);
    return int(registry().size());
}

} // namespace snipjar::sync
