#include "app/cli/ClipboardServer.h"

#include "platform/PasteboardMimeMapping.h"
#include "platform/TypeIdentifier.h"

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
    return serveUntilTaken(*platform);
}

int ClipboardServer::serve(const PasteboardContent& content, PlatformBackend::Kind backend) {
    std::unique_ptr<PlatformServices> platform = PlatformBackend::create(backend);
    if (!platform) {
        return CommandOutcome::failure(PlatformBackend::unavailableMessage()).print();
    }
    platform->pasteboard->write(content);
    return serveUntilTaken(*platform);
}

PasteboardContent ClipboardServer::standardInputContent(const CommandLine& commandLine) {
    const CommandLine::Content input = commandLine.content.value_or(CommandLine::Content{});
    if (!commandLine.mimeType) {
        return {{{QString::fromLatin1(TypeIdentifier::plainText), input.text.toUtf8()}}};
    }
    const QString type = PasteboardMimeMapping::identifierForTarget(commandLine.mimeType->toLatin1())
                             .value_or(*commandLine.mimeType);
    return {{{type, input.bytes}}};
}

int ClipboardServer::serveUntilTaken(PlatformServices& platform) {
    Pasteboard& clipboard = *platform.pasteboard;
    const qint64 written = clipboard.changeCount();
    auto stopWhenTaken = [&clipboard, written] {
        if (clipboard.changeCount() != written) {
            qCInfo(lcPaste) << "Another program took the clipboard";
            QCoreApplication::quit();
        }
    };
    QObject::connect(&clipboard, &Pasteboard::changed, &clipboard, stopWhenTaken);
    QObject::connect(&clipboard, &Pasteboard::ownerLost, &clipboard, [] { QCoreApplication::quit(); });
    QObject::connect(&platform, &PlatformServices::displayLost, &clipboard,
                     [] { QCoreApplication::exit(1); });
    return QCoreApplication::exec();
}

} // namespace snipjar
