#pragma once

#include "sync/cloud/service/ServiceTransport.h"

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace snipjar::cloud {

// ServiceTransport on Qt Network.
class NetworkServiceTransport : public ServiceTransport {
public:
    explicit NetworkServiceTransport(ServiceAccount account);
    ~NetworkServiceTransport() override;

    ServiceExchange exchange(const ServiceRequest& request, std::atomic<bool>& cancelled) override;
    QByteArray fingerprintSeen() const override { return seen; }

private:
    QNetworkAccessManager& manager();
    ServiceExchange finish(QNetworkReply* reply, QFile* target, std::atomic<bool>& cancelled);

    ServiceAccount account;
    std::unique_ptr<QNetworkAccessManager> network;
    QByteArray seen;
};

} // namespace snipjar::cloud
