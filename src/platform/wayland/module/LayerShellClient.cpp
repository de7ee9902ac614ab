#include "platform/wayland/module/LayerShellClient.h"

#include "platform/LogCategories.h"

#include "wlr-layer-shell-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <algorithm>
#include <cstring>

namespace snipjar {

namespace {

// The newest version whose requests this client knows; it uses those of the first only.
constexpr uint32_t newestKnownVersion = 4;
// Round trips to wait for the first configure; a compositor sends it on the commit that follows
// the role, so one is enough unless it is busy.
constexpr int configureRoundTrips = 3;

struct Registry {
    zwlr_layer_shell_v1* shell = nullptr;

    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version) {
        auto* self = static_cast<Registry*>(data);
        if (self->shell == nullptr && std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
            self->shell = static_cast<zwlr_layer_shell_v1*>(wl_registry_bind(
                registry, name, &zwlr_layer_shell_v1_interface, std::min(version, newestKnownVersion)));
        }
    }
    static void globalRemove(void*, wl_registry*, uint32_t) {}
};

const wl_registry_listener registryListener{&Registry::global, &Registry::globalRemove};

void layerConfigured(void* data, zwlr_layer_surface_v1* surface, uint32_t serial, uint32_t, uint32_t);
void layerClosed(void* data, zwlr_layer_surface_v1* surface);
const zwlr_layer_surface_v1_listener layerListener{&layerConfigured, &layerClosed};

class PlacedLayer final : public WaylandLayerShell::Layer {
public:
    PlacedLayer(zwlr_layer_surface_v1* surface, std::function<void()> onClosed)
        : surface(surface)
        , onClosed(std::move(onClosed)) {
        zwlr_layer_surface_v1_add_listener(surface, &layerListener, this);
    }
    ~PlacedLayer() override { zwlr_layer_surface_v1_destroy(surface); }
    QSize size() const override { return configuredSize; }

    zwlr_layer_surface_v1* const surface;
    const std::function<void()> onClosed;
    bool configured = false;
    QSize configuredSize;
};

void layerConfigured(void* data, zwlr_layer_surface_v1* surface, uint32_t serial, uint32_t width,
                     uint32_t height) {
    // Qt's next frame applies what is acknowledged; the size is the one asked for, or the
    // output's for a backdrop, whose window takes it before its first frame.
    zwlr_layer_surface_v1_ack_configure(surface, serial);
    auto* layer = static_cast<PlacedLayer*>(data);
    if (!layer->configured) {
        layer->configuredSize = QSize(int(std::min(width, 1U << 15)), int(std::min(height, 1U << 15)));
    }
    layer->configured = true;
}

void layerClosed(void* data, zwlr_layer_surface_v1*) {
    qCInfo(lcPlatform) << "The compositor took the panel's layer away";
    const auto& onClosed = static_cast<PlacedLayer*>(data)->onClosed;
    if (onClosed) {
        onClosed();
    }
}

} // namespace

LayerShellClient::LayerShellClient(wl_display* display, wl_event_queue* queue, zwlr_layer_shell_v1* shell)
    : display(display)
    , queue(queue)
    , shell(shell) {}

LayerShellClient::~LayerShellClient() {
    if (zwlr_layer_shell_v1_get_version(shell) >= ZWLR_LAYER_SHELL_V1_DESTROY_SINCE_VERSION) {
        zwlr_layer_shell_v1_destroy(shell);
    } else {
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(shell));
    }
    wl_event_queue_destroy(queue);
}

std::unique_ptr<WaylandLayerShell> LayerShellClient::open(wl_display* qtDisplay) {
    wl_event_queue* queue = wl_display_create_queue(qtDisplay);
    auto* wrapped = static_cast<wl_display*>(wl_proxy_create_wrapper(qtDisplay));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapped), queue);
    wl_registry* registry = wl_display_get_registry(wrapped);
    wl_proxy_wrapper_destroy(wrapped);
    Registry found;
    wl_registry_add_listener(registry, &registryListener, &found);
    const bool answered = wl_display_roundtrip_queue(qtDisplay, queue) >= 0;
    wl_registry_destroy(registry);
    if (!answered || found.shell == nullptr) {
        if (found.shell != nullptr) {
            wl_proxy_destroy(reinterpret_cast<wl_proxy*>(found.shell));
        }
        wl_event_queue_destroy(queue);
        return nullptr;
    }
    return std::unique_ptr<WaylandLayerShell>(new LayerShellClient(qtDisplay, queue, found.shell));
}

std::unique_ptr<WaylandLayerShell::Layer> LayerShellClient::place(void* surfaceHandle,
                                                                  WindowLayers::Role role, QSize size,
                                                                  std::function<void()> onClosed) {
    auto* surface = static_cast<wl_surface*>(surfaceHandle);
    const bool front = role == WindowLayers::Role::front;
    auto layer = std::make_unique<PlacedLayer>(
        zwlr_layer_shell_v1_get_layer_surface(shell, surface, nullptr,
                                              front ? ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY
                                                    : ZWLR_LAYER_SHELL_V1_LAYER_TOP,
                                              front ? "snipjar-panel" : "snipjar-panel-backdrop"),
        std::move(onClosed));
    if (front) {
        zwlr_layer_surface_v1_set_size(layer->surface, uint32_t(size.width()), uint32_t(size.height()));
        zwlr_layer_surface_v1_set_keyboard_interactivity(
            layer->surface, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE);
    } else {
        // Anchored to every edge with no size: the whole output, the other layers' zones included.
        zwlr_layer_surface_v1_set_anchor(
            layer->surface, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        zwlr_layer_surface_v1_set_exclusive_zone(layer->surface, -1);
    }
    wl_surface_commit(surface);
    for (int trip = 0; trip < configureRoundTrips && !layer->configured; ++trip) {
        if (wl_display_roundtrip_queue(display, queue) < 0) {
            break;
        }
    }
    if (!layer->configured || layer->size().isEmpty()) {
        qCWarning(lcPlatform) << "The compositor did not configure the panel's layer";
        return nullptr;
    }
    // Later configures (an output that changed) are Qt's to dispatch, on the main thread.
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(layer->surface), nullptr);
    wl_display_dispatch_queue_pending(display, queue);
    return layer;
}

} // namespace snipjar
