#include "app/update/HttpGet.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

namespace snipjar {

namespace {

// What Qt holds of a body the caller has not taken yet, and the largest piece handed over at
// once: a server that sends faster than the caller reads waits instead of filling memory.
constexpr qint64 pieceBytes = 1 << 20;

// A GET on a network manager of its own, made for the first check or download rather than at start
// (it scans Qt's network plugins) and gone with the transfer.
class NetworkHttpGet final : public HttpGet {
public:
    NetworkHttpGet(const Request& request, Handlers handlers)
        : handlers(std::move(handlers)) {
        QNetworkRequest networkRequest(request.url);
        networkRequest.setHeader(QNetworkRequest::UserAgentHeader, request.userAgent);
        if (!request.accept.isEmpty()) {
            networkRequest.setRawHeader("Accept", request.accept);
        }
        networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                                    QNetworkRequest::AlwaysNetwork);
        networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                    QNetworkRequest::NoLessSafeRedirectPolicy);
        reply = manager->get(networkRequest);
        reply->setReadBufferSize(pieceBytes);
        readConnection = QObject::connect(reply, &QNetworkReply::readyRead, reply, [this] { deliver(); });
        finishConnection = QObject::connect(reply, &QNetworkReply::finished, reply, [this] { finish(); });
    }

    ~NetworkHttpGet() override {
        QObject::disconnect(readConnection);
        QObject::disconnect(finishConnection);
        if (reply) {
            reply->abort();
        }
        // The reply goes with its manager; later when a handler destroyed this object from inside
        // one of the reply's signals.
        if (inHandler) {
            manager->deleteLater();
        } else {
            delete manager;
        }
    }

private:
    // Hands over what has arrived; false when a handler destroyed this object.
    bool deliver() {
        while (reply && reply->bytesAvailable() > 0) {
            if (!callHandler([this] { handlers.received(reply->read(pieceBytes)); })) {
                return false;
            }
        }
        return true;
    }

    void finish() {
        if (!deliver() || !reply) {
            return;
        }
        Answer answer;
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() != QNetworkReply::NoError) {
            answer.error = reply->errorString();
        }
        callHandler([this, &answer] { handlers.finished(answer); });
    }

    // False when the handler destroyed this object, which must then not be touched.
    template <typename Call> bool callHandler(const Call& call) {
        const std::weak_ptr<bool> alive = aliveToken;
        inHandler = true;
        call();
        if (alive.expired()) {
            return false;
        }
        inHandler = false;
        return true;
    }

    QNetworkAccessManager* manager = new QNetworkAccessManager;
    QPointer<QNetworkReply> reply;
    Handlers handlers;
    QMetaObject::Connection readConnection;
    QMetaObject::Connection finishConnection;
    bool inHandler = false;
    // Expires with this object, which tells a delivery loop to stop.
    const std::shared_ptr<bool> aliveToken = std::make_shared<bool>(true);
};

class NetworkHttpModule final : public HttpModule {
public:
    std::unique_ptr<HttpGet> get(const HttpGet::Request& request, HttpGet::Handlers handlers) const override {
        return std::make_unique<NetworkHttpGet>(request, std::move(handlers));
    }
};

} // namespace

} // namespace snipjar

extern "C" Q_DECL_EXPORT const snipjar::HttpModule* snipjar_http_module() {
    static const snipjar::NetworkHttpModule module;
    return &module;
}
