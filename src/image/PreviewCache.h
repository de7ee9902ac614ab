#pragma once

#include <QByteArray>
#include <QString>
#include <QUuid>

#include <optional>

namespace snipjar {

// Rendered previews of large images, kept as files in AppPaths::cacheFolder() + "/previews" and
// reused across launches. An entry is named after the image's content digest and the preview's
// longest side, so the same image copied again (or synced from another computer) finds its file.
// The modification time of a file is its last use; prune() deletes the least recently used files
// until the folder fits the byte budget.
//
// A plain value (folder and budget) that any thread may copy and use: there is no in-memory index,
// and every file-system failure is ignored. The worst outcome of a failure is a preview that is
// rendered again, or a folder above budget until the next prune.
class PreviewCache {
public:
    static constexpr qint64 defaultMaxBytes = 250'000'000;
    // The longest side of the previews the panel shows.
    static constexpr int previewSide = 1200;

    // Creates the folder (0700) when missing; a failure is ignored.
    explicit PreviewCache(qint64 maxBytes = defaultMaxBytes);

    const QString& dir() const { return folder; }
    qint64 maxBytes() const { return budget; }

    // The digest of an image item ("i:" dedup keys), else the item's upper-case UUID.
    static QString cacheKey(const QString& dedupKey, const QUuid& id);
    // key + "-" + side + ".png"; the bytes are HEIC whatever the ending says.
    static QString fileName(const QString& key, int side = previewSide);
    QString filePath(const QString& key, int side = previewSide) const;

    // The entry's bytes, and marks it as just used; none when it is missing or unreadable.
    std::optional<QByteArray> read(const QString& key, int side = previewSide) const;
    // Replaces the entry atomically with a private (0600) file.
    void write(const QString& key, const QByteArray& bytes, int side = previewSide) const;
    // Deletes the least recently used entries until the folder holds at most maxBytes.
    void prune() const;

private:
    QString folder;
    qint64 budget;
};

} // namespace snipjar
