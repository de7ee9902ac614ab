#include "app/cli/ClipboardServer.h"

#include "app/cli/CommandOutcome.h"
#include "paste/Paster.h"
#include "platform/DesktopNotifier.h"
#include "platform/LogCategories.h"
#include "platform/x11/X11Platform.h"
#include "platform/x11/XcbConnection.h"

#include <QCoreApplication>

#include <cstdio>

namespace snipjar {

int ClipboardServer::serve(const Clip& clip, bool thenPaste) {
    std::unique_ptr<X11Platform> platform = X11Platform::create();
    if (!platform) {
        return CommandOutcome::failure(XcbConnection::unavailableMessage()).print();
    }
    Pasteboard& clipboard = *platform->pasteboard;
    const std::optional<QByteArray> tiff = Paster::tiffFallback(clip);
    Paster paster(clipboard, *platform->workspace, *platform->keySynthesizer, *platform->desktopNotifier,
                  platform->primarySelection.get());
    if (thenPaste) {
        paster.paste(clip, tiff, platform->workspace->frontmostApplication());
    } else {
        clipboard.write(Paster::content(clip, tiff));
    }
    const qint64 written = clipboard.changeCount();
    auto stopWhenTaken = [&clipboard, written] {
        if (clipboard.changeCount() != written) {
            qCInfo(lcPaste) << "Another program took the clipboard";
            QCoreApplication::quit();
        }
    };
    QObject::connect(&clipboard, &Pasteboard::changed, &clipboard, stopWhenTaken);
    QObject::connect(&clipboard, &Pasteboard::ownerLost, &clipboard, [] { QCoreApplication::quit(); });
    QObject::connect(platform.get(), &X11Platform::displayLost, &clipboard,
                     [] { QCoreApplication::exit(1); });
    return QCoreApplication::exec();
}

} // namespace snipjar
