#pragma once

#include "sync/cloud/CloudDatabase.h"
#include "sync/cloud/service/ServiceAccount.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QFile;

namespace snipjar::cloud {

// One HTTP request to the sync service as the transport sends it.
struct ServiceRequest {
    QByteArray verb;
    QString path;
    // Sent as "Authorization: Bearer <token>" when not empty.
    QString token;
    // The Content-Type header, none when empty; body is sent unless upload is given.
    QByteArray contentType;
    QByteArray body;
    // A file sent as the body, with its size as Content-Length.
    QFile* upload = nullptr;
    // Where a 200 answer's body goes instead of into the exchange.
    QFile* download = nullptr;
};

// How a request ended, as bytes: the service's rules (its error objects, JSON) stay with the caller.
struct ServiceExchange {
    enum class Failure { none, cancelled, tooLarge, untrusted, hostNotFound, network, writeFailed };
    Failure failure = Failure::none;
    // The HTTP status; 0 when no answer arrived.
    int status = 0;
    // The answer's body, unless it went to the request's download file.
    QByteArray body;
    // The network library's words for a failure.
    QString error;
};

// The HTTP side of the sync service's client on Qt Network. Calls block on the calling thread, each
// in a local event loop, and keep connections alive between calls; a call fails soon with
// Failure::cancelled once cancelled becomes true, and sets it back to false.
class ServiceTransport {
public:
    virtual ~ServiceTransport() = default;
    virtual ServiceExchange exchange(const ServiceRequest& request, std::atomic<bool>& cancelled) = 0;
    // The SHA-256 fingerprint of the certificate the server showed in the last exchange (empty over
    // plain HTTP).
    virtual QByteArray fingerprintSeen() const = 0;
};

// Qt Network and Qt WebSockets bring a dozen libraries (Kerberos, libproxy, Brotli, the resolver)
// that every start would link although only a computer that syncs uses them, and only after start.
// They sit in a private module of their own, loaded by the first call to the service.
class ServiceNetworkModule {
public:
    virtual ~ServiceNetworkModule() = default;

    // A transport to the account's server; a self-signed certificate is trusted only when its
    // fingerprint is the one pinned at sign-in.
    virtual std::unique_ptr<ServiceTransport> transport(const ServiceAccount& account) const = 0;

    // The service's push WebSocket on a thread of its own: calls onNotice for every "changed"
    // message and after every (re)connection, when changes may have been missed; reconnects with a
    // growing pause while the server is away; logs an untrusted certificate in log. Stops, joining
    // its thread, when destroyed.
    virtual std::unique_ptr<PushSubscription> subscribe(const ServiceAccount& account,
                                                        std::function<void()> onNotice,
                                                        const QLoggingCategory& log) const = 0;

    // The module, loaded on first use and kept for the life of the process; none when it cannot be
    // loaded (a damaged installation, said once in the log).
    static const ServiceNetworkModule* loaded();
};

} // namespace snipjar::cloud

// The module's one entry point.
#define SNIPJAR_SERVICE_NETWORK_ENTRY "snipjar_service_network_module"
