#include "FuzzInput.h"

#include "app/CommandLine.h"
#include "platform/ActivationToken.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstdlib>

using namespace snipjar;

namespace {

void checkRequestLine(const QByteArray& line) {
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (!document.isObject()) {
        return;
    }
    const CommandLine command = CommandLine::fromJson(document.object());
    if (command.error) {
        return;
    }
    // The socket is held to the rules of the command line: what a terminal cannot ask for, no
    // other process can ask for either.
    if (command.limit) {
        SNIPJAR_FUZZ_CHECK(*command.limit >= 0);
    }
    if (command.kind) {
        static const QStringList kinds{"text", "image", "file", "rich"};
        SNIPJAR_FUZZ_CHECK(kinds.contains(*command.kind));
    }
    if (command.minutes) {
        SNIPJAR_FUZZ_CHECK(*command.minutes > 0);
    }
    // An activation token is logged and put into the environment: printable ASCII, bounded.
    if (command.activationToken) {
        SNIPJAR_FUZZ_CHECK(ActivationToken::checked(*command.activationToken) == command.activationToken);
    }
    // A request the running copy accepted travels again unchanged.
    const QJsonObject again = command.toJson();
    SNIPJAR_FUZZ_CHECK(CommandLine::fromJson(again).toJson() == again);
}

} // namespace

// What another process writes to the instance socket: request lines, each a JSON object naming a
// command and its options, cut at line feeds as the instance reads them.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const QByteArray& line : fuzz::bytesOf(data, size).split('\n')) {
        checkRequestLine(line);
    }
    return 0;
}
