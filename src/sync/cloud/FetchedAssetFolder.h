#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <optional>

namespace snipjar::cloud {

// A private folder (0700) in the application's cache folder for the assets of one fetched page,
// files 0600; removed with everything in it when destroyed.
class FetchedAssetFolder {
public:
    FetchedAssetFolder();

    bool isValid() const { return folder.isValid(); }
    // Writes the bytes to a new file in the folder; its path, or none when it could not be written.
    std::optional<QString> write(const QByteArray& bytes);
    // The path of a new file in the folder, for a caller that streams the bytes into it.
    std::optional<QString> newFilePath() const;

private:
    QTemporaryDir folder;
};

} // namespace snipjar::cloud
