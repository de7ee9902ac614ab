#pragma once

#include "app/CommandLine.h"
#include "app/cli/CommandOutcome.h"

namespace snipjar {

// `snipjar clipboard`: what the clipboard (or the primary selection) of the display or compositor
// this process runs in holds now, read by this process itself and never filed. A copy a password
// manager marked as secret is not printed.
class ClipboardReading {
public:
    // The most bytes printed; a larger value is refused rather than held.
    static constexpr qint64 largestBytes = 1024LL * 1024 * 1024;

    static CommandOutcome read(const CommandLine& commandLine);
};

} // namespace snipjar
