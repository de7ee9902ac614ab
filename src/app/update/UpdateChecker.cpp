#include "app/update/UpdateChecker.h"

#include "app/update/UpdateFeed.h"
#include "platform/AppIdentity.h"
#include "platform/LogCategories.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace snipjar {

namespace {

bool isLoopback(const QUrl& url) {
    const QString host = url.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
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
    connect(deadline, &QTimer::timeout, this, [this] {
        if (reply) {
            timedOut = true;
            reply->abort();
        }
    });
}

UpdateChecker::~UpdateChecker() {
    if (reply) {
        // Nobody is left to hear the answer; the reply is a child of the network manager and goes
        // with it, so only its signals must not reach this half-destroyed object.
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
    }
}

void UpdateChecker::setTimeout(std::chrono::milliseconds timeout) {
    requestTimeout = timeout.count() > 0 ? timeout : defaultTimeout;
}

void UpdateChecker::check(const UpdateConfiguration& configuration, const SemanticVersion& running) {
    if (reply) {
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
    publicKey = configuration.publicKey;
    runningVersion = running;
    body.clear();
    timedOut = false;
    tooLarge = false;

    QNetworkRequest request(configuration.feedUrl);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Snipjar/%1").arg(AppIdentity::version()));
    request.setRawHeader("Accept", "application/json");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    // Never follow a redirect from https to http.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    qCInfo(lcUpdate) << "checking" << configuration.feedUrl.toString(QUrl::RemoveUserInfo);
    // Made for the first check rather than at start, where it would scan Qt's network plugins.
    if (!network) {
        network = new QNetworkAccessManager(this);
    }
    reply = network->get(request);
    connect(reply, &QNetworkReply::readyRead, this, &UpdateChecker::readAvailable);
    connect(reply, &QNetworkReply::finished, this, &UpdateChecker::handleFinished);
    deadline->start(requestTimeout);
}

void UpdateChecker::finishLater(const UpdateOutcome& outcome) {
    // Callers get their answer from the event loop, never from inside check().
    QTimer::singleShot(0, this, [this, outcome] { emit finished(outcome); });
}

void UpdateChecker::readAvailable() {
    if (!reply) {
        return;
    }
    body += reply->read(maximumFeedBytes + 1 - body.size());
    if (body.size() > maximumFeedBytes) {
        tooLarge = true;
        reply->abort();
    }
}

void UpdateChecker::handleFinished() {
    deadline->stop();
    if (!reply) {
        return;
    }
    if (!tooLarge && !timedOut) {
        readAvailable();
    }
    const UpdateOutcome outcome = outcomeOfReply();
    reply->deleteLater();
    reply.clear();
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

UpdateOutcome UpdateChecker::outcomeOfReply() {
    if (timedOut) {
        return UpdateOutcome::failed(tr("The update server did not answer in time."));
    }
    if (tooLarge) {
        return UpdateOutcome::failed(tr("The update server sent something that is not update information."));
    }
    // An HTTP error status is a network error to Qt too; naming the status says more.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() != 200) {
        return UpdateOutcome::failed(tr("The update server answered with status %1.").arg(status.toInt()));
    }
    if (reply->error() != QNetworkReply::NoError) {
        return UpdateOutcome::failed(
            tr("The update server could not be reached (%1).").arg(reply->errorString()));
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
