// The service network module's entry point: hands out its transports and push subscriptions.
#include "sync/cloud/service/network/NetworkPushSubscription.h"
#include "sync/cloud/service/network/NetworkServiceTransport.h"

namespace {

class NetworkModule : public snipjar::cloud::ServiceNetworkModule {
public:
    std::unique_ptr<snipjar::cloud::ServiceTransport>
    transport(const snipjar::cloud::ServiceAccount& account) const override {
        return std::make_unique<snipjar::cloud::NetworkServiceTransport>(account);
    }

    std::unique_ptr<snipjar::cloud::PushSubscription> subscribe(const snipjar::cloud::ServiceAccount& account,
                                                                std::function<void()> onNotice,
                                                                const QLoggingCategory& log) const override {
        return std::make_unique<snipjar::cloud::NetworkPushSubscription>(account, std::move(onNotice), log);
    }
};

} // namespace

extern "C" Q_DECL_EXPORT const snipjar::cloud::ServiceNetworkModule* snipjar_service_network_module() {
    static const NetworkModule module;
    return &module;
}
