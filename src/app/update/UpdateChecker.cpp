#include "app/update/UpdateChecker.h"

#include "app/update/UpdateFeed.h"
#include "platform/AppIdentity.h"
#include "platform/LogCategories.h"

#include <QTimer>

#include <arpa/inet.h>

namespace snipjar {

namespace {

// localhost, 127.0.0.0/8, ::1 and IPv4 loopback addresses written as IPv6.
bool isLoopback(const QUrl& url) {
    const QString host = url.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    const QByteArray address = host.toLatin1();
    in_addr ipv4{};
    if (inet_pton(AF_INET, address.constData(), &ipv4) == 1) {
        return (ntohl(ipv4.s_addr) >> 24) == 127;
    }
    in6_addr ipv6{};
    return inet_pton(AF_INET6, address.constData(), &ipv6) == 1 &&
           (IN6_IS_ADDR_LOOPBACK(&ipv6) || (IN6_IS_ADDR_V4MAPPED(&ipv6) && ipv6.s6_addr[12] == 127));
}

} // namespace

bool UpdateChecker::isSecureAddress(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("https") || (scheme == QLatin1String("http") && isLoopback(url)));
}

UpdateChecker::UpdateChecker(QObject* parent)
    : QObject(parent)
    , deadline(new QTimer(this)) {
    qRegisterMetaType<UpdateOutcome>();
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this,
            [this] { end(UpdateOutcome::failed(tr("The update server did not answer in time."))); });
}

// Out of line for the transfer's type; destroying it ends the transfer without another call here.
UpdateChecker::~UpdateChecker() = default;

void UpdateChecker::setTimeout(std::chrono::milliseconds timeout) {
    requestTimeout = timeout.count() > 0 ? timeout : defaultTimeout;
}

void UpdateChecker::check(const UpdateConfiguration& configuration, const SemanticVersion& running) {
    if (transfer) {
        return;
    }
    if (!configuration.canCheck()) {
        finishLater(UpdateOutcome::failed(tr("No update server is configured.")));
        return;
    }
    if (!isSecureAddress(configuration.feedUrl)) {
        finishLater(
            UpdateOutcome::failed(tr("The update server's address is not a secure (https) address.")));
        return;
    }
    const HttpModule* http = loadHttp();
    if (!http) {
        finishLater(UpdateOutcome::failed(
            tr("Snipjar's network module is missing or damaged, so it cannot check for updates. "
               "Reinstalling Snipjar should repair it.")));
        return;
    }
    publicKey = configuration.publicKey;
    runningVersion = running;
    body.clear();
    qCInfo(lcUpdate) << "checking" << configuration.feedUrl.toString(QUrl::RemoveUserInfo);
    transfer = http->get({configuration.feedUrl, QStringLiteral("Snipjar/%1").arg(AppIdentity::version()),
                          QByteArrayLiteral("application/json")},
                         {[this](const QByteArray& piece) { receive(piece); },
                          [this](const HttpGet::Answer& answer) { end(outcomeOf(answer)); }});
    deadline->start(requestTimeout);
}

void UpdateChecker::finishLater(const UpdateOutcome& outcome) {
    // Callers get their answer from the event loop, never from inside check().
    QTimer::singleShot(0, this, [this, outcome] { emit finished(outcome); });
}

void UpdateChecker::receive(const QByteArray& piece) {
    body += piece.left(maximumFeedBytes + 1 - body.size());
    // Not read to the end: one byte past the limit is enough to know.
    if (body.size() > maximumFeedBytes) {
        end(UpdateOutcome::failed(tr("The update server sent something that is not update information.")));
    }
}

void UpdateChecker::end(const UpdateOutcome& outcome) {
    if (!transfer) {
        return;
    }
    deadline->stop();
    transfer.reset();
    publicKey.clear();
    body.clear();
    switch (outcome.kind) {
    case UpdateOutcome::Kind::Newer:
        qCInfo(lcUpdate) << "newer version" << outcome.info->version.toString();
        break;
    case UpdateOutcome::Kind::UpToDate:
        qCInfo(lcUpdate) << "up to date; the feed names" << outcome.info->version.toString();
        break;
    case UpdateOutcome::Kind::Failed:
        qCWarning(lcUpdate) << "check failed:" << outcome.message;
        break;
    }
    emit finished(outcome);
}

UpdateOutcome UpdateChecker::outcomeOf(const HttpGet::Answer& answer) const {
    // An HTTP error status is a transfer error too; naming the status says more.
    if (answer.status != 0 && answer.status != 200) {
        return UpdateOutcome::failed(tr("The update server answered with status %1.").arg(answer.status));
    }
    if (!answer.error.isEmpty()) {
        return UpdateOutcome::failed(tr("The update server could not be reached (%1).").arg(answer.error));
    }
    const UpdateFeed::Result feed = UpdateFeed::parse(body, publicKey);
    if (!feed) {
        return UpdateOutcome::failed(feed.reason);
    }
    if (feed.info->version > runningVersion) {
        return UpdateOutcome::newer(*feed.info);
    }
    return UpdateOutcome::upToDate(*feed.info);
}

} // namespace snipjar
