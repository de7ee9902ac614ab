#pragma once

#include "sync/cloud/CloudRecord.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace snipjar::sync {

// The files behind the image assets of outgoing payload records. They live in a private folder
// (0700) of the runtime folder as "snipjar-<UUID>.img" (0600), or of the cache folder when the
// runtime folder has no room, and each belongs to the record it was written for until discarded. A send must
// discard the files of every record it built as soon as that send has ended, whatever its outcome;
// discardAll() sweeps what is left (at the end of every send operation, at start and at shut-down).
//
// Thread-safe.
class ImageAssetFiles {
public:
    static QString folder();
    // Where a file goes that the runtime folder cannot take.
    static QString fallbackFolder();

    // Writes the bytes to a new file of the record; none when it cannot be written.
    static std::optional<cloud::Asset> write(const QByteArray& bytes, const QString& recordName);

    // Deletes every file written for the record name.
    static void discard(const QString& recordName);
    // The same for the record's name, and the file of its "imageAsset" when that is one of ours.
    static void discard(const cloud::CloudRecord& record);
    // Deletes every file in the folder.
    static void discardAll();

    // Files written and not yet discarded, for tests.
    static int outstandingCount();
};

} // namespace snipjar::sync
