#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QUuid>

#include <optional>

namespace snipjar {

// Large payload bytes kept in files beside a store's database ("<store>-blobs/"), so that the
// database stays small and a payload is read only when it is asked for. A file is written and
// flushed to disk before the row that names it is committed, and removed only after the row's
// deletion has committed; files that no row names (left by a crash) are swept when the store opens.
class BlobStorage {
public:
    // Byte fields of this size or more go to a file.
    static constexpr qsizetype externalThreshold = 64 * 1024;

    explicit BlobStorage(QString folder);

    const QString& folder() const { return folderPath; }

    // Creates the folder (mode 0700); false when that is impossible.
    bool prepareFolder() const;

    // Writes the bytes to a new file of mode 0600 and returns its name; none on failure.
    std::optional<QString> write(const QUuid& itemID, const char* field, const QByteArray& bytes) const;
    // The whole content of a file named by a row; none when it is missing or unreadable, which is
    // logged once per file.
    std::optional<QByteArray> read(const QString& name) const;
    void remove(const QString& name) const;
    // Deletes every file in the folder whose name is not referenced; returns how many went.
    int sweep(const QSet<QString>& referenced) const;
    // Names of the files in the folder.
    QSet<QString> fileNames() const;

    // A name written by this class: no path separators, nothing that could leave the folder.
    static bool isValidName(const QString& name);

private:
    QString pathOf(const QString& name) const;

    QString folderPath;
};

} // namespace snipjar
