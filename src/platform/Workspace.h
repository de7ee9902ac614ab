#pragma once

#include <QString>

#include <optional>

namespace snipjar {

// A running application as the window system sees it.
struct RunningApplication {
    qint64 processID = 0;
    // The desktop-entry id when one matches the window class, else the WM_CLASS class name.
    QString bundleID;
    // The desktop entry's Name, else the class name.
    QString name;
    // The WM_CLASS class name (used to recognise terminal emulators).
    QString windowClass;
    // The window that was active; activation brings this one back.
    quint64 windowID = 0;
    // The WM_CLASS instance name (the paste keystroke may be chosen by it too).
    QString windowInstance = {};

    bool operator==(const RunningApplication&) const = default;
};

// Frontmost application, activation and the mouse buttons. Main thread only. The application's own windows
// and a zero active window never count as frontmost.
class Workspace {
public:
    virtual ~Workspace() = default;
    virtual std::optional<RunningApplication> frontmostApplication() = 0;
    virtual std::optional<RunningApplication> application(qint64 processID) = 0;
    // Brings the application's remembered window to the front (its process's newest window when
    // none was remembered).
    virtual void activate(const RunningApplication& application) = 0;
    // True when the remembered window is the active one; only without a remembered window does
    // any window of the process count.
    virtual bool isActive(const RunningApplication& application) = 0;
    // True while a mouse button (left, middle or right) is held down anywhere on the screen: a
    // selection being dragged is not finished yet.
    virtual bool isMouseButtonHeld() = 0;
};

} // namespace snipjar
