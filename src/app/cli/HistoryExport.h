#pragma once

#include "app/cli/CommandOutcome.h"

#include <QString>

namespace snipjar {

class HistoryReader;

// Writes the whole history (both stores; concealed clips never) to an archive. Reads the store
// files read-only, one clip at a time, so memory stays bounded by the largest clip whatever the
// history's size; runs on any thread. The archive is written to PATH.part (mode 0600), synced to
// disk and renamed into place, so PATH is either the old file or the whole new archive.
class HistoryExport {
public:
    static CommandOutcome write(const QString& path, const HistoryReader& reader);
};

} // namespace snipjar
