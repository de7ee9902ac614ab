#pragma once

#include "platform/PlatformServices.h"

#include <QString>

#include <memory>
#include <optional>

namespace snipjar {

// Which platform this process runs on, chosen once at start-up before Qt's GUI application exists,
// since Qt's platform plugin must be the matching one: Wayland where WAYLAND_DISPLAY names a
// compositor that offers a data-control protocol, else X11 (on a Wayland desktop without one,
// such as GNOME, that is the compositor's X server, which it keeps in step with its clipboard).
class PlatformBackend {
public:
    enum class Kind { wayland, x11 };

    // The backend to run on, with QT_QPA_PLATFORM set to its Qt plugin; none when neither a
    // compositor fit for it nor an X display can be reached.
    static std::optional<Kind> choose();
    // Why none could be chosen, for the one line the user sees.
    static QString unavailableMessage();
    static QString name(Kind kind);
    // The backend's services, after the GUI application exists; none when they cannot be created.
    static std::unique_ptr<PlatformServices> create(Kind kind);
};

} // namespace snipjar
