#include "panel/widgets/WindowActivation.h"

#include "platform/LogCategories.h"

#include <QGuiApplication>
#include <QWindow>

namespace snipjar {

namespace {

constexpr const char* waylandTokenVariable = "XDG_ACTIVATION_TOKEN";

} // namespace

bool WindowActivation::handOver(QWindow* window, const std::optional<QString>& token) {
    if (!token || !window || !window->handle() ||
        !QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        return false;
    }
    // Qt's Wayland plugin reads the variable while this call runs, on this thread, under the lock
    // that qputenv takes too.
    qputenv(waylandTokenVariable, token->toLatin1());
    window->requestActivate();
    qunsetenv(waylandTokenVariable);
    qCDebug(lcApp) << "Activation token handed to" << window->objectName();
    return true;
}

} // namespace snipjar
