#include "app/cli/ClipboardReading.h"

#include "app/PlatformBackend.h"
#include "platform/PasteboardMimeMapping.h"
#include "platform/TypeIdentifier.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/x11/X11Pasteboard.h"

namespace snipjar {

namespace {

std::unique_ptr<Pasteboard> openSelection(PlatformBackend::Kind backend, bool primary) {
    if (backend == PlatformBackend::Kind::wayland) {
        return WaylandPasteboard::create(primary ? WaylandDataControl::Selection::primary
                                                 : WaylandDataControl::Selection::clipboard);
    }
    return X11Pasteboard::create(nullptr,
                                 primary ? QByteArrayLiteral("PRIMARY") : QByteArrayLiteral("CLIPBOARD"));
}

// The reads of one capture, ended however the command ends.
struct Capture {
    explicit Capture(Pasteboard& board)
        : board(board) {
        board.beginCapture();
    }
    ~Capture() { board.endCapture(); }
    Pasteboard& board;
};

} // namespace

CommandOutcome ClipboardReading::read(const CommandLine& commandLine) {
    const std::optional<PlatformBackend::Kind> backend = PlatformBackend::choose();
    if (!backend) {
        return CommandOutcome::failure(PlatformBackend::unavailableMessage());
    }
    const std::unique_ptr<Pasteboard> board = openSelection(*backend, commandLine.primary);
    const QString name =
        commandLine.primary ? QStringLiteral("primary selection") : QStringLiteral("clipboard");
    if (!board) {
        return CommandOutcome::failure(QStringLiteral("the %1 cannot be read here").arg(name));
    }
    const Capture capture(*board);
    if (board->types().contains(QLatin1String(TypeIdentifier::concealedMarker))) {
        return CommandOutcome::failure(
            QStringLiteral("the %1 holds a secret (a password manager marked it); it is not printed")
                .arg(name));
    }
    if (commandLine.mimeType) {
        const QString type = PasteboardMimeMapping::identifierForTarget(commandLine.mimeType->toLatin1())
                                 .value_or(*commandLine.mimeType);
        PasteboardRead value = board->read(type, largestBytes);
        if (value.status == PasteboardRead::Status::tooLarge) {
            return CommandOutcome::failure(
                QStringLiteral("the %1's %2 is larger than 1 GB; it is not printed")
                    .arg(name, *commandLine.mimeType));
        }
        if (value.status == PasteboardRead::Status::absent) {
            return CommandOutcome::failure(
                QStringLiteral("the %1 offers no %2").arg(name, *commandLine.mimeType));
        }
        return CommandOutcome::success(std::move(value.bytes));
    }
    const PasteboardString text = board->readString(largestBytes);
    if (text.status == PasteboardRead::Status::tooLarge) {
        return CommandOutcome::failure(
            QStringLiteral("the %1's text is larger than 1 GB; it is not printed").arg(name));
    }
    if (text.status == PasteboardRead::Status::absent) {
        return CommandOutcome::failure(QStringLiteral("the %1 holds no text").arg(name));
    }
    return CommandOutcome::success(text.text.toUtf8());
}

} // namespace snipjar
