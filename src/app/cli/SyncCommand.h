#pragma once

#include "app/CommandLine.h"
#include "app/cli/CommandOutcome.h"

#include <cstdio>

namespace snipjar {

// `snipjar sync sign-in SERVER USER` and `snipjar sync sign-out`, carried out by the command's
// own process (it may wait on the network); a running Snipjar is then told to start again with
// the new sign-in. Needs a QCoreApplication.
class SyncCommand {
public:
    // The password of sign-in comes from `passwordInput`, one line.
    static CommandOutcome run(const CommandLine& commandLine, FILE* passwordInput);
};

} // namespace snipjar
