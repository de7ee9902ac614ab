#include "platform/fakes/FakeDesktopNotifier.h"

namespace snipjar {

void FakeDesktopNotifier::notify(const QString& summary, const QString& body) {
    notifications.append(Notification{summary, body});
}

} // namespace snipjar
