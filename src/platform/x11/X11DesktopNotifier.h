#pragma once

#include "platform/DesktopNotifier.h"

namespace snipjar {

// Notifications through org.freedesktop.Notifications on the session bus. The call does not wait
// for an answer; without a session bus or a notification service nothing is shown.
class X11DesktopNotifier : public DesktopNotifier {
public:
    void notify(const QString& summary, const QString& body) override;
};

} // namespace snipjar
