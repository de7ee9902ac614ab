#pragma once

#include "sync/cloud/CloudDatabase.h"
#include "sync/cloud/service/ServiceAccount.h"

#include <QThread>

#include <functional>
#include <memory>

namespace snipjar::cloud {

// The service's push WebSocket on a thread of its own: calls onNotice for every "changed" message
// and after every (re)connection, when changes may have been missed; reconnects with a growing
// pause while the server is away. Stops, joining its thread, when destroyed.
class ServicePushSubscription : public PushSubscription {
public:
    ServicePushSubscription(ServiceAccount account, std::function<void()> onNotice);
    ~ServicePushSubscription() override;

private:
    QThread thread;
    QObject* anchor = nullptr; // lives on the thread, parent of the socket; deleted there
};

} // namespace snipjar::cloud
