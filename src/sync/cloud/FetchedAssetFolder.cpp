#include "sync/cloud/FetchedAssetFolder.h"

#include "platform/AppPaths.h"
#include "platform/PrivateFiles.h"

#include <QDir>
#include <QUuid>

namespace snipjar::cloud {

namespace {

// The application's own cache folder on disk: the system's temporary folder is often a small
// memory-backed file system that a page of large images would fill, and is shared with every user.
QString fetchedAssetsParent() {
    const QString parent = AppPaths::cacheFolder() + QStringLiteral("/fetched-assets");
    AppPaths::ensurePrivateFolder(parent);
    return parent;
}

} // namespace

FetchedAssetFolder::FetchedAssetFolder()
    : folder(QDir(fetchedAssetsParent()).filePath(QStringLiteral("page-XXXXXX"))) {
    if (folder.isValid()) {
        PrivateFiles::restrictFolder(folder.path());
    }
}

std::optional<QString> FetchedAssetFolder::newFilePath() const {
    if (!folder.isValid()) {
        return std::nullopt;
    }
    return folder.filePath(
        QStringLiteral("snipjar-%1.asset").arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()));
}

std::optional<QString> FetchedAssetFolder::write(const QByteArray& bytes) {
    const auto path = newFilePath();
    if (!path) {
        return std::nullopt;
    }
    if (!PrivateFiles::writeFile(*path, bytes, PrivateFiles::Durability::Buffered)) {
        return std::nullopt;
    }
    return path;
}

} // namespace snipjar::cloud
