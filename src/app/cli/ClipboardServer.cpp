#include "app/cli/ClipboardServer.h"

#include "app/PlatformBackend.h"
#include "app/cli/CommandOutcome.h"
#include "paste/Paster.h"
#include "platform/DesktopNotifier.h"
#include "platform/LogCategories.h"

#include <QCoreApplication>

#include <cstdio>

namespace snipjar {

int ClipboardServer::serve(const Clip& clip, bool thenPaste, PlatformBackend::Kind backend) {
    std::unique_ptr<PlatformServices> platform = PlatformBackend::create(backend);
    if (!platform) {
        return CommandOutcome::failure(PlatformBackend::unavailableMessage()).print();
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
    QObject::connect(platform.get(), &PlatformServices::displayLost, &clipboard,
                     [] { QCoreApplication::exit(1); });
    return QCoreApplication::exec();
}

} // namespace snipjar
