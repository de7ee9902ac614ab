#pragma once

#include "platform/PlatformServices.h"

#include <memory>

namespace snipjar {

class LogindWakeWatcher;

// The platform services on a Wayland compositor that offers a data-control protocol: the clipboard
// and the primary selection over it, and where the compositor offers them the paste keystroke (a
// virtual keyboard on wlroots, fake input on KWin) and the front application from its list of
// toplevels. What it
// does not offer, and a global hot key everywhere, are the unavailable services
// (UnavailableServices.h). Create and use it on the main thread.
//
// No program holds a clipboard-manager role here: the compositor clears the selection when its
// owner quits, and the clipboard keeper then takes it over with the newest clip (ownerLost).
class WaylandPlatform final : public PlatformServices {
    Q_OBJECT
public:
    // None when the compositor cannot be reached or offers no data-control manager.
    static std::unique_ptr<WaylandPlatform> create();
    ~WaylandPlatform() override;

    // logind's sleep announcements on the system bus, passed on as didWake().
    std::unique_ptr<LogindWakeWatcher> wakeWatcher;

    // Every Wayland compositor composites.
    bool isCompositing() const override { return true; }
    QString backendName() const override { return QStringLiteral("Wayland"); }
    // The primary selection on a connection of its own, read afresh at every capture; none when
    // the compositor's data-control manager is too old for it.
    std::unique_ptr<Pasteboard> createPrimarySelection() const override;

private:
    WaylandPlatform();
};

} // namespace snipjar
