#pragma once

#include "app/update/HttpGet.h"
#include "app/update/SemanticVersion.h"
#include "app/update/UpdateConfiguration.h"
#include "app/update/UpdateOutcome.h"

#include <QByteArray>
#include <QObject>

#include <chrono>
#include <memory>

class QTimer;

namespace snipjar {

// Fetches the update feed, verifies it and compares its version with the running one. Every check
// ends in exactly one finished() signal, also when the server never answers: the whole request,
// not only a pause in it, is bounded by the timeout.
class UpdateChecker : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds defaultTimeout{15'000};
    // A feed is a few hundred bytes; anything far larger is not one and is not read to the end.
    static constexpr qint64 maximumFeedBytes = 256 * 1024;

    explicit UpdateChecker(QObject* parent = nullptr);
    ~UpdateChecker() override;

    void setTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds timeout() const { return requestTimeout; }

    // Starts a check unless one is running, whose answer then serves this call too. The address
    // must be https; plain http is accepted for the loopback interface only, where no one else
    // can be on the wire.
    void check(const UpdateConfiguration& configuration, const SemanticVersion& running);
    bool isChecking() const { return transfer != nullptr; }
    // https, or plain http to the loopback interface, where no one else can be on the wire.
    static bool isSecureAddress(const QUrl& url);
    // Where the network module comes from (HttpModule::loaded unless a test says otherwise).
    void setHttpModuleLoader(HttpModuleLoader loader) { loadHttp = loader; }

signals:
    void finished(const snipjar::UpdateOutcome& outcome);

private:
    void finishLater(const UpdateOutcome& outcome);
    void receive(const QByteArray& piece);
    void end(const UpdateOutcome& outcome);
    UpdateOutcome outcomeOf(const HttpGet::Answer& answer) const;

    HttpModuleLoader loadHttp = &HttpModule::loaded;
    QTimer* deadline;
    std::unique_ptr<HttpGet> transfer;
    QByteArray body;
    QByteArray publicKey;
    SemanticVersion runningVersion;
    std::chrono::milliseconds requestTimeout = defaultTimeout;
};

} // namespace snipjar
