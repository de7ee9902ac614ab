#include "sync/cloud/postgres/FetchedAssetFolder.h"

#include "platform/PrivateFiles.h"

#include <QDir>
#include <QUuid>

namespace snipjar::cloud {

FetchedAssetFolder::FetchedAssetFolder()
    : folder(QDir(QDir::tempPath()).filePath(QStringLiteral("snipjar-assets-XXXXXX"))) {
    if (folder.isValid()) {
        PrivateFiles::restrictFolder(folder.path());
    }
}

std::optional<QString> FetchedAssetFolder::write(const QByteArray& bytes) {
    if (!folder.isValid()) {
        return std::nullopt;
    }
    const QString path = folder.filePath(
        QStringLiteral("snipjar-%1.asset").arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()));
    if (!PrivateFiles::writeFile(path, bytes, PrivateFiles::Durability::Buffered)) {
        return std::nullopt;
    }
    return path;
}

} // namespace snipjar::cloud
