#pragma once

#include "sync/cloud/service/ServiceTransport.h"

#include <QThread>

namespace snipjar::cloud {

// The service's push WebSocket on Qt WebSockets (see ServiceNetworkModule::subscribe).
class NetworkPushSubscription : public PushSubscription {
public:
    NetworkPushSubscription(ServiceAccount account, std::function<void()> onNotice,
                            const QLoggingCategory& log);
    ~NetworkPushSubscription() override;

private:
    QThread thread;
    QObject* anchor = nullptr; // lives on the thread, parent of the socket; deleted there
};

} // namespace snipjar::cloud
