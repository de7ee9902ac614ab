#pragma once

#include "app/CommandLine.h"

namespace snipjar {

// `snipjar watch`: subscribes to the running Snipjar over its socket and prints the row it pushes
// for each clip filed, or runs the --exec command for it, until SIGINT or SIGTERM (status 0) or
// until Snipjar quits or drops the watch (status 1, said in one line). Nothing is polled: the
// process sleeps in poll() on the socket. Qt Core only, no event loop.
class WatchClient {
public:
    static int run(const CommandLine& commandLine);
};

} // namespace snipjar
