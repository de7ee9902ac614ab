#include "platform/wayland/WaylandWindowLayers.h"

#include "platform/LogCategories.h"

#include <QGuiApplication>
#include <qpa/qplatformnativeinterface.h>

namespace snipjar {

WaylandWindowLayers::WaylandWindowLayers(std::unique_ptr<WaylandLayerShell> shell)
    : shell(std::move(shell)) {}

std::unique_ptr<WaylandWindowLayers> WaylandWindowLayers::create() {
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (!native || !QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        return nullptr;
    }
    std::unique_ptr<WaylandLayerShell> shell =
        WaylandLayerShell::open(native->nativeResourceForIntegration(QByteArrayLiteral("wl_display")));
    if (!shell) {
        qCInfo(lcPlatform) << "The compositor offers no layer shell: the panel is an ordinary window";
        return nullptr;
    }
    return std::unique_ptr<WaylandWindowLayers>(new WaylandWindowLayers(std::move(shell)));
}

bool WaylandWindowLayers::raise(QWindow* window, Role role, std::function<void()> onClosed) {
    lower(window);
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    void* surface = window && window->handle() && native
                        ? native->nativeResourceForWindow(QByteArrayLiteral("surface"), window)
                        : nullptr;
    if (!surface) {
        return false;
    }
    std::unique_ptr<WaylandLayerShell::Layer> layer =
        shell->place(surface, role, window->size(), std::move(onClosed));
    if (!layer) {
        return false;
    }
    if (role == Role::backdrop) {
        // Before its first frame, which is then of the output's size.
        window->resize(layer->size());
    }
    raised.push_back({window, std::move(layer)});
    return true;
}

void WaylandWindowLayers::lower(QWindow* window) {
    // Windows gone meanwhile lose their layers too (Qt destroyed their surfaces already).
    std::erase_if(raised, [window](const Raised& entry) { return !entry.window || entry.window == window; });
}

} // namespace snipjar
