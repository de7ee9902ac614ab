#pragma once

#include "app/CommandLine.h"
#include "app/PlatformBackend.h"
#include "model/Clip.h"
#include "platform/Pasteboard.h"

namespace snipjar {

// `snipjar copy` and `snipjar paste` without a running Snipjar: the command process itself puts
// the clip on the clipboard (and, for paste, types the paste keystroke into the window in front,
// as the panel does) and stays in the foreground serving it until another program takes the
// clipboard. Needs a Qt GUI application on the backend's display.
class ClipboardServer {
public:
    // The exit status: 0 once the clipboard went to another program, 1 without a display.
    static int serve(const Clip& clip, bool thenPaste, PlatformBackend::Kind backend);
    // `copy -`: the content read from standard input, as it is.
    static int serve(const PasteboardContent& content, PlatformBackend::Kind backend);

    // What `copy -` puts on the clipboard: the text read, or the bytes as the MIME type given.
    static PasteboardContent standardInputContent(const CommandLine& commandLine);

private:
    // Runs until another program takes the clipboard.
    static int serveUntilTaken(PlatformServices& platform);
};

} // namespace snipjar
