#pragma once

#include "sync/cloud/CloudError.h"
#include "sync/cloud/service/ServiceAccount.h"

#include <QByteArray>
#include <QJsonObject>
#include <QPointer>

#include <atomic>
#include <memory>

class QFile;
class QNetworkAccessManager;
class QNetworkReply;

namespace snipjar::cloud {

// Blocking HTTP calls to the sync service on the calling thread (the sync worker; never the GUI
// thread), each in a local event loop; connections are kept alive between calls. cancel() from
// any thread makes the call in progress fail soon with operationCancelled.
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
    const QByteArray& fingerprintSeen() const { return seen; }

private:
    CloudResult<QByteArray> finish(QNetworkReply* reply, QFile* target);
    QNetworkAccessManager& manager();

    ServiceAccount account;
    std::unique_ptr<QNetworkAccessManager> network;
    std::atomic<bool> cancelled = false;
    QByteArray seen;
};

// The error a failed answer carries, or the transport's failure.
CloudError serviceError(int status, const QByteArray& body);

} // namespace snipjar::cloud
