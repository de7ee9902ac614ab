#include "app/update/UpdateDownload.h"

#include "app/update/UpdateChecker.h"
#include "platform/AppIdentity.h"
#include "platform/AppPaths.h"
#include "platform/LogCategories.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

#include <cstdio>

namespace snipjar {

namespace {

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
    , stall(new QTimer(this)) {
    qRegisterMetaType<Result>();
    stall->setSingleShot(true);
    connect(stall, &QTimer::timeout, this, [this] {
        fail(tr("The download server sent nothing for %1 seconds.")
                 .arg(std::chrono::duration_cast<std::chrono::seconds>(stallTimeout).count()));
    });
}

UpdateDownload::~UpdateDownload() {
    // Ended first, so that nothing more arrives for the file.
    transfer.reset();
    if (file) {
        file->remove();
    }
}

QString UpdateDownload::defaultFolder() {
    return AppPaths::cacheFolder() + QStringLiteral("/updates");
}

void UpdateDownload::start(const UpdateInfo& info, const QString& folder) {
    if (transfer) {
        return;
    }
    const auto failLater = [this](const QString& message) {
        QTimer::singleShot(0, this, [this, message] { emit finished(Result{{}, message}); });
    };
    if (!UpdateChecker::isSecureAddress(info.downloadUrl)) {
        failLater(tr("The download's address is not a secure (https) address."));
        return;
    }
    const HttpModule* http = loadHttp();
    if (!http) {
        failLater(tr("Snipjar's network module is missing or damaged, so it cannot download the update. "
                     "Reinstalling Snipjar should repair it."));
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
        failLater(cannotWrite());
        return;
    }
    digest.reset();
    received = 0;
    qCInfo(lcUpdate) << "downloading" << info.downloadUrl.toString(QUrl::RemoveUserInfo);
    transfer = http->get({info.downloadUrl, QStringLiteral("Snipjar/%1").arg(AppIdentity::version()), {}},
                         {[this](const QByteArray& piece) { receive(piece); },
                          [this](const HttpGet::Answer& answer) { handleFinished(answer); }});
    // A slow but steady server is waited for; one that stops sending is not.
    stall->start(stallTimeout);
}

void UpdateDownload::cancel() {
    if (transfer) {
        fail(tr("The download was cancelled."));
    }
}

void UpdateDownload::receive(const QByteArray& piece) {
    // Not read past the signed size: one byte more is enough to know the file is not the signed one.
    if (received + piece.size() > expected.size) {
        fail(notTheSignedFile());
        return;
    }
    if (file->write(piece) != piece.size()) {
        fail(cannotWrite());
        return;
    }
    digest.addData(piece);
    received += piece.size();
    stall->start(stallTimeout);
    emit progress(received, expected.size);
}

void UpdateDownload::handleFinished(const HttpGet::Answer& answer) {
    stall->stop();
    const QString failure = failureOf(answer);
    transfer.reset();
    if (!failure.isEmpty()) {
        fail(failure);
        return;
    }
    const bool flushed = file->flush();
    file->close();
    // rename() replaces an older download of the same name in this private folder.
    if (!flushed || std::rename(QFile::encodeName(file->fileName()).constData(),
                                QFile::encodeName(finalPath).constData()) != 0) {
        fail(cannotWrite());
        return;
    }
    file.reset();
    qCInfo(lcUpdate) << "downloaded and checked" << finalPath;
    emit finished(Result{finalPath, {}});
}

QString UpdateDownload::failureOf(const HttpGet::Answer& answer) const {
    if (answer.status != 0 && answer.status != 200) {
        return tr("The download server answered with status %1.").arg(answer.status);
    }
    if (!answer.error.isEmpty()) {
        return tr("The download failed (%1).").arg(answer.error);
    }
    // Too short or other bytes: whoever served the file, it is not the signed release.
    if (received != expected.size || QString::fromLatin1(digest.result().toHex()) != expected.sha256) {
        return notTheSignedFile();
    }
    return {};
}

QString UpdateDownload::notTheSignedFile() const {
    return tr("The downloaded file is not the one the update announced (its size or SHA-256 "
              "differs), so it was deleted.");
}

QString UpdateDownload::cannotWrite() const {
    return tr("The download cannot be written to %1.").arg(QFileInfo(finalPath).absolutePath());
}

void UpdateDownload::fail(const QString& message) {
    stall->stop();
    transfer.reset();
    if (file) {
        file->remove();
        file.reset();
    }
    qCWarning(lcUpdate) << "download failed:" << message;
    emit finished(Result{{}, message});
}

} // namespace snipjar
