#pragma once

#include <QString>

namespace snipjar {

// Desktop notifications (freedesktop Notifications over D-Bus).
class DesktopNotifier {
public:
    virtual ~DesktopNotifier() = default;
    virtual void notify(const QString& summary, const QString& body) = 0;
};

} // namespace snipjar
