#pragma once

#include "app/CommandLine.h"
#include "app/LocalSocket.h"
#include "app/cli/CommandOutcome.h"

#include <optional>

namespace snipjar {

// Sends a command to the running Snipjar over its instance socket and waits for the answer. Used
// by a short-lived command process before any event loop runs, so it blocks.
class InstanceClient {
public:
    // None when no Snipjar runs. A failure, before anything is sent, when the runtime folder or the
    // process serving the socket belongs to another user. A copy that holds the instance lock but has
    // not opened its socket yet is waited for up to two seconds; one that still does not listen then,
    // or that stops answering, gives a failure.
    static std::optional<CommandOutcome> send(const CommandLine& commandLine);
    // Connects the socket to the running Snipjar, with the checks and waits of send. Leaves it
    // invalid when no Snipjar runs; a failure as send gives it.
    static std::optional<CommandOutcome> connect(LocalSocket& socket);
    // The request line that carries a command.
    static QByteArray requestLine(const CommandLine& commandLine);
};

} // namespace snipjar
