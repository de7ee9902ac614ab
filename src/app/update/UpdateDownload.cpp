#include "app/update/UpdateDownload.h"

#include "app/update/UpdateChecker.h"
#include "platform/AppIdentity.h"
#include "platform/AppPaths.h"
#include "platform/LogCategories.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>

#include <cstdio>

namespace snipjar {

namespace {

constexpr qint64 readChunkBytes = 1 << 20;

// The file name the address ends in, reduced to characters that are safe in any shell and file
// manager; the server chooses the address, so it must not choose a hidden or odd name.
QString fileNameFor(const UpdateInfo& info) {
    QString name = QFileInfo(info.downloadUrl.path()).fileName();
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._+-]")), QStringLiteral("_"));
    if (name.isEmpty() || name.startsWith(QLatin1Char('.'))) {
        name = QStringLiteral("snipjar-%1.download").arg(info.version.toString());
    }
    return name;
}

} // namespace

UpdateDownload::UpdateDownload(QObject* parent)
    : QObject(parent)
    , network(new QNetworkAccessManager(this)) {
    qRegisterMetaType<Result>();
}

UpdateDownload::~UpdateDownload() {
    if (reply) {
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
    }
    if (file) {
        file->remove();
    }
}

QString UpdateDownload::defaultFolder() {
    return AppPaths::cacheFolder() + QStringLiteral("/updates");
}

void UpdateDownload::start(const UpdateInfo& info, const QString& folder) {
    if (reply) {
        return;
    }
    const auto failLater = [this](const QString& message) {
        QTimer::singleShot(0, this, [this, message] { emit finished(Result{{}, message}); });
    };
    if (!UpdateChecker::isSecureAddress(info.downloadUrl)) {
        failLater(tr("The download's address is not a secure (https) address."));
        return;
    }
    expected = info;
    finalPath = folder + QLatin1Char('/') + fileNameFor(info);
    const QString partPath = finalPath + QStringLiteral(".part");
    QFile::remove(partPath);
    file = std::make_unique<QFile>(partPath);
    if (!AppPaths::ensurePrivateFolder(folder) ||
        !file->open(QIODevice::WriteOnly | QIODevice::NewOnly,
                    QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        file.reset();
        failLater(tr("The download cannot be written to %1.").arg(folder));
        return;
    }
    digest.reset();
    received = 0;
    tooLong = writeFailed = cancelled = false;

    QNetworkRequest request(info.downloadUrl);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Snipjar/%1").arg(AppIdentity::version()));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(int(stallTimeout.count()));
    qCInfo(lcUpdate) << "downloading" << info.downloadUrl.toString(QUrl::RemoveUserInfo);
    reply = network->get(request);
    connect(reply, &QNetworkReply::readyRead, this, &UpdateDownload::readAvailable);
    connect(reply, &QNetworkReply::finished, this, &UpdateDownload::handleFinished);
}

void UpdateDownload::cancel() {
    if (reply) {
        cancelled = true;
        reply->abort();
    }
}

void UpdateDownload::readAvailable() {
    while (reply && !tooLong && !writeFailed && reply->bytesAvailable() > 0) {
        // One byte past the signed size is enough to know the file is not the signed one.
        const QByteArray chunk = reply->read(qMin(readChunkBytes, expected.size - received + 1));
        if (received + chunk.size() > expected.size) {
            tooLong = true;
        } else if (file->write(chunk) != chunk.size()) {
            writeFailed = true;
        } else {
            digest.addData(chunk);
            received += chunk.size();
            emit progress(received, expected.size);
            continue;
        }
        reply->abort();
    }
}

void UpdateDownload::handleFinished() {
    if (!reply) {
        return;
    }
    readAvailable();
    const QString failure = failureOfReply();
    reply->deleteLater();
    reply.clear();
    if (!failure.isEmpty()) {
        fail(failure);
        return;
    }
    const bool flushed = file->flush();
    file->close();
    // rename() replaces an older download of the same name in this private folder.
    if (!flushed || std::rename(QFile::encodeName(file->fileName()).constData(),
                                QFile::encodeName(finalPath).constData()) != 0) {
        fail(tr("The download cannot be written to %1.").arg(QFileInfo(finalPath).absolutePath()));
        return;
    }
    file.reset();
    qCInfo(lcUpdate) << "downloaded and checked" << finalPath;
    emit finished(Result{finalPath, {}});
}

QString UpdateDownload::failureOfReply() const {
    if (cancelled) {
        return tr("The download was cancelled.");
    }
    if (writeFailed) {
        return tr("The download cannot be written to %1.").arg(QFileInfo(finalPath).absolutePath());
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!tooLong && status.isValid() && status.toInt() != 200) {
        return tr("The download server answered with status %1.").arg(status.toInt());
    }
    if (!tooLong && reply->error() != QNetworkReply::NoError) {
        return tr("The download failed (%1).").arg(reply->errorString());
    }
    // Too long, too short or other bytes: whoever served the file, it is not the signed release.
    if (tooLong || received != expected.size ||
        QString::fromLatin1(digest.result().toHex()) != expected.sha256) {
        return tr("The downloaded file is not the one the update announced (its size or SHA-256 "
                  "differs), so it was deleted.");
    }
    return {};
}

void UpdateDownload::fail(const QString& message) {
    if (file) {
        file->remove();
        file.reset();
    }
    qCWarning(lcUpdate) << "download failed:" << message;
    emit finished(Result{{}, message});
}

} // namespace snipjar
