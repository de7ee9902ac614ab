#pragma once

#include "sync/cloud/CloudError.h"
#include "sync/cloud/service/ServiceAccount.h"

#include "sync/cloud/service/ServiceTransport.h"

#include <QByteArray>
#include <QJsonObject>

#include <atomic>
#include <memory>

namespace snipjar::cloud {

// Blocking HTTP calls to the sync service on the calling thread (the sync worker; never the GUI
// thread), each in a local event loop; connections are kept alive between calls. cancel() from
// any thread makes the call in progress fail soon with operationCancelled. The transport comes
// from the service network module, loaded by the first call.
class ServiceHttp {
public:
    explicit ServiceHttp(ServiceAccount account);
    ~ServiceHttp();

    // A JSON call; the answer's JSON object (empty for 204).
    CloudResult<QJsonObject> call(const QByteArray& verb, const QString& path, const QJsonObject& body = {});
    CloudResult<QJsonObject> upload(const QString& path, QFile& source);
    CloudStatus download(const QString& path, QFile& target);
    void cancel() { cancelled = true; }

    // The SHA-256 fingerprint of the certificate the server showed in the last call (empty over
    // plain HTTP).
    QByteArray fingerprintSeen() const { return transport ? transport->fingerprintSeen() : QByteArray(); }

private:
    CloudResult<QByteArray> send(ServiceRequest request);

    ServiceAccount account;
    std::unique_ptr<ServiceTransport> transport;
    std::atomic<bool> cancelled = false;
};

// The error a failed answer carries, or the transport's failure.
CloudError serviceError(int status, const QByteArray& body);

} // namespace snipjar::cloud
