// A Qt program that copies and quits, as a user's program does: it puts a text or an image on the
// clipboard with QClipboard, prints "ready", and quits when it reads a line on standard input.
// Qt hands the clipboard to the clipboard manager as the application goes; after that the program
// prints "owner kept" when another client owned the clipboard before this program's connection
// closed (the hand-over), "owner lost" otherwise.
//
// Usage: snipjar_qt_copy_helper --text TEXT | --image PATH
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QSocketNotifier>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

xcb_window_t clipboardOwner() {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, 9, "CLIPBOARD"), nullptr);
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, atom ? atom->atom : xcb_atom_t(XCB_ATOM_NONE)),
        nullptr);
    const xcb_window_t window = owner ? owner->owner : xcb_window_t(XCB_WINDOW_NONE);
    std::free(owner);
    std::free(atom);
    xcb_disconnect(connection);
    return window;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s --text TEXT | --image PATH\n", argv[0]);
        return 2;
    }
    xcb_window_t ownWindow = XCB_WINDOW_NONE;
    {
        QGuiApplication application(argc, argv);
        auto* data = new QMimeData;
        if (std::strcmp(argv[1], "--image") == 0) {
            data->setImageData(QImage(QString::fromLocal8Bit(argv[2])));
        } else {
            data->setText(QString::fromUtf8(argv[2]));
        }
        QGuiApplication::clipboard()->setMimeData(data);
        QGuiApplication::processEvents();
        ownWindow = clipboardOwner();
        std::printf("ready\n");
        std::fflush(stdout);
        QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(&input, &QSocketNotifier::activated, &application, &QGuiApplication::quit);
        application.exec();
    }
    const xcb_window_t owner = clipboardOwner();
    std::printf(owner != XCB_WINDOW_NONE && owner != ownWindow ? "owner kept\n" : "owner lost\n");
    std::fflush(stdout);
    return 0;
}
