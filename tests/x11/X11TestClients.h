#pragma once

#include "platform/Pasteboard.h"
#include "platform/x11/XcbConnection.h"
#include "platform/x11/XcbMemory.h"

#include "EventLoopWait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>
#include <vector>

namespace snipjar::test {

// Lets the event loop run for a while (to see that something does not happen).
inline void spinEventLoop(int milliseconds) {
    settle(std::chrono::milliseconds(milliseconds));
}

// xdotool with arguments; true when it succeeded.
inline bool xdotool(const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

// The key that produces the keysym in the current keyboard mapping, or 0.
inline xcb_keycode_t keycodeOf(XcbConnection& connection, xcb_keysym_t keysym) {
    XcbKeySymbols symbols(xcb_key_symbols_alloc(connection.get()));
    return keycodeFor(symbols.get(), keysym);
}

// A top-level window of this process that stands for an application's window: it carries a
// WM_CLASS and a _NET_WM_PID (any process id) and records the key presses it receives.
class TestWindow {
public:
    TestWindow(XcbConnection& connection, quint32 processID, const char* windowClass)
        : connection(connection)
        , window(xcb_generate_id(connection.get())) {
        xcb_connection_t* c = connection.get();
        const uint32_t events = XCB_EVENT_MASK_KEY_PRESS;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, connection.root(), 0, 0, 200, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, connection.screen()->root_visual, XCB_CW_EVENT_MASK,
                          &events);
        const QByteArray wmClass = QByteArray(windowClass) + '\0' + windowClass + '\0';
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            wmClass.size(), wmClass.constData());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, connection.atom("_NET_WM_PID"),
                            XCB_ATOM_CARDINAL, 32, 1, &processID);
        xcb_map_window(c, window);
        connection.flush();
    }
    ~TestWindow() {
        xcb_destroy_window(connection.get(), window);
        connection.flush();
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    // The key presses that the TestWindows of this connection received since the last call.
    static QList<xcb_key_press_event_t> takeKeyPresses(XcbConnection& connection) {
        connection.sync();
        QList<xcb_key_press_event_t> presses;
        while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(connection.get())}) {
            if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
                presses.append(*reinterpret_cast<xcb_key_press_event_t*>(event.get()));
            }
        }
        return presses;
    }

    XcbConnection& connection;
    const xcb_window_t window;
};

// xterm pastes the clipboard only from its menus unless a key is bound to it, as the common
// terminal emulators bind Ctrl+Shift+V; with any other modifier held the binding does not match.
inline const QStringList xtermPasteBinding = {
    "-xrm", "XTerm*VT100.translations: #override \\n !Shift Ctrl <Key>v: insert-selection(CLIPBOARD)"};

// True once the running Snipjar of this test's session is ready: it opens its instance socket after
// the hot key and the panel are up.
inline bool snipjarIsReady(int timeoutMs = 10000) {
    const QString socket =
        qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/Snipjar/instance.socket");
    return waitUntil([&] { return QFile::exists(socket); }, timeoutMs);
}

inline QByteArray fileContents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What another client reads from the selection for the target, as `xclip -o` prints it.
inline QByteArray xclipOutput(const QString& target = QStringLiteral("UTF8_STRING"),
                              const QString& selection = QStringLiteral("clipboard")) {
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), {"-o", "-selection", selection, "-t", target});
    xclip.waitForFinished(30000);
    return xclip.exitCode() == 0 ? xclip.readAllStandardOutput() : QByteArray();
}

// True while a window whose name matches the pattern is shown.
inline bool windowShown(const QString& namePattern) {
    QProcess search;
    search.start(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", namePattern});
    search.waitForFinished(5000);
    return search.exitCode() == 0 && !search.readAllStandardOutput().trimmed().isEmpty();
}

// Programs that own a selection for a test (xclip, the owner helper), woken and killed at its end.
class SelectionOwners {
public:
    ~SelectionOwners() {
        for (const std::unique_ptr<QProcess>& process : processes) {
            ::kill(pid_t(process->processId()), SIGCONT);
            process->kill();
            process->waitForFinished(5000);
        }
    }
    // xclip serving the bytes as the one target of the selection (until it is killed).
    QProcess* xclip(const QByteArray& bytes, const QString& target = QStringLiteral("UTF8_STRING"),
                    const QString& selection = QStringLiteral("clipboard")) {
        const QString path = writeFile(QStringLiteral("xclip-%1").arg(processes.size()), bytes);
        return start(QStringLiteral("xclip"), {"-quiet", "-selection", selection, "-t", target, "-i", path});
    }
#ifdef SNIPJAR_X11_CLIPBOARD_OWNER
    // The owner helper (helper/X11PasteboardOwnerHelper.cpp); returns once it owns the selection.
    QProcess* helper(const QStringList& arguments) {
        QProcess* process = start(QStringLiteral(SNIPJAR_X11_CLIPBOARD_OWNER), arguments);
        process->waitForReadyRead(5000);
        return process;
    }
#endif
    QString writeFile(const QString& name, const QByteArray& bytes) {
        QFile file(folder.filePath(name));
        if (file.open(QIODevice::WriteOnly)) {
            file.write(bytes);
        }
        return file.fileName();
    }

private:
    QProcess* start(const QString& program, const QStringList& arguments) {
        processes.push_back(std::make_unique<QProcess>());
        processes.back()->start(program, arguments);
        processes.back()->waitForStarted(5000);
        return processes.back().get();
    }

    QTemporaryDir folder;
    std::vector<std::unique_ptr<QProcess>> processes;
};

// Starts an owner and returns it once the pasteboard saw the selection change hands (the change
// arrives from the pasteboard's own thread).
template <typename Start> QProcess* taking(const Pasteboard& pasteboard, Start start) {
    const qint64 before = pasteboard.changeCount();
    QProcess* process = start();
    EXPECT_TRUE(waitUntil([&] { return pasteboard.changeCount() > before; })) << "no owner change";
    return process;
}

// A real xterm (or another terminal), killed when the object goes.
struct Xterm : QProcess {
    explicit Xterm(const QStringList& arguments, const QString& program = QStringLiteral("xterm")) {
        start(program, arguments);
        waitForStarted(5000);
    }
    ~Xterm() override {
        kill();
        waitForFinished(5000);
    }
};

// Activates the terminal's windows, as a click would (a window manager may decline to focus a new
// window); false when it shows none.
inline bool bringToFront(Xterm& terminal) {
    const QStringList search = {"search", "--onlyvisible", "--pid", QString::number(terminal.processId())};
    if (!waitUntil([&] { return xdotool(search); }, 20000)) {
        return false;
    }
    QProcess windows;
    windows.start(QStringLiteral("xdotool"), search);
    windows.waitForFinished(5000);
    bool activated = true;
    for (const QByteArray& window : windows.readAllStandardOutput().split('\n')) {
        const QStringList activate = {"windowactivate", "--sync", QString::fromLatin1(window)};
        // On a busy machine the window manager may not have taken the window on yet: asked again.
        if (!window.isEmpty() && !waitUntil([&] { return xdotool(activate); }, 10000)) {
            activated = false;
        }
    }
    return activated;
}

// An xterm whose shell writes every character it is given to the file.
inline QStringList typingTerminal(const QString& output) {
    return xtermPasteBinding + QStringList{"-e", "bash", "-c", "stty -icanon; exec cat > \"$0\"", output};
}

} // namespace snipjar::test

#include <ostream>

// Readable QStrings in test failure messages.
inline void PrintTo(const QString& string, std::ostream* stream) {
    *stream << '"' << string.toStdString() << '"';
}
