#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

namespace snipjar {

// One HTTP GET as the updater uses it, and nothing more: the body as it arrives, then how the
// transfer ended. The updater's own rules (addresses, size caps, deadlines, signatures and digests)
// stay with its callers; this is only the transport. Destroying it ends the transfer, and no
// handler is called after that; callers may destroy it from inside its own handlers.
class HttpGet {
public:
    struct Request {
        QUrl url;
        QString userAgent;
        // The Accept header; none when empty.
        QByteArray accept;
    };

    // How the transfer ended.
    struct Answer {
        // The response's HTTP status; 0 when no response arrived.
        int status = 0;
        // Why the transfer failed, in the network library's words (an error status counts too);
        // empty when it did not fail.
        QString error;
    };

    struct Handlers {
        // Each piece of the body, in order, as it arrives.
        std::function<void(const QByteArray& piece)> received;
        // Once, after the last piece.
        std::function<void(const Answer& answer)> finished;
    };

    virtual ~HttpGet() = default;
};

// The transport behind HttpGet: Qt Network, which brings eight more libraries (Kerberos, libproxy,
// the resolver) that every start would link although most starts never check for an update. It is
// built into a module of its own, loaded the first time a check or download starts.
class HttpModule {
public:
    virtual ~HttpModule() = default;

    // Starts a GET that always goes to the network (no cache) and follows only redirects that are
    // not less safe (never from https to http). The handlers are called from the calling thread's
    // event loop, never from inside get().
    virtual std::unique_ptr<HttpGet> get(const HttpGet::Request& request,
                                         HttpGet::Handlers handlers) const = 0;

    // The module, loaded on first use from the GUI thread and kept for the life of the process. None
    // when it cannot be loaded (a damaged installation, said once in the log): every check and
    // download then fails with one message saying so.
    static const HttpModule* loaded();
};

// How the updater finds the module; tests stand in one that cannot be loaded.
using HttpModuleLoader = const HttpModule* (*)();

} // namespace snipjar

// The module's one entry point.
extern "C" {
using SnipjarHttpModuleEntry = const snipjar::HttpModule* (*)();
}
#define SNIPJAR_HTTP_MODULE_ENTRY "snipjar_http_module"
