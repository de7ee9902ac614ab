#pragma once

#include "app/update/HttpGet.h"
#include "app/update/UpdateInfo.h"

#include <QCryptographicHash>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class QFile;
class QTimer;

namespace snipjar {

// Fetches the file a verified update feed announced and keeps it only when it is exactly the file
// the feed signed: the same size and the same SHA-256. The bytes are streamed into a private file
// (0600) and never read past the signed size, so a server that sends more cannot fill the disk.
// Every download ends in exactly one finished() signal.
class UpdateDownload : public QObject {
    Q_OBJECT
public:
    // A server that sends nothing for this long is given up; a slow but steady one is not.
    static constexpr std::chrono::milliseconds stallTimeout{30'000};

    struct Result {
        // The checked file; empty on failure.
        QString path;
        // Why the download failed, as a sentence for the user; empty on success.
        QString message;

        explicit operator bool() const { return !path.isEmpty(); }
    };

    explicit UpdateDownload(QObject* parent = nullptr);
    ~UpdateDownload() override;

    // Downloads info's file into the folder, which is made private when missing. Ignored while a
    // download runs. The address must be https (http for the loopback interface only).
    void start(const UpdateInfo& info, const QString& folder);
    // Ends the running download as a failure; its file is deleted.
    void cancel();
    bool isRunning() const { return transfer != nullptr; }
    // Where the network module comes from (HttpModule::loaded unless a test says otherwise).
    void setHttpModuleLoader(HttpModuleLoader loader) { loadHttp = loader; }

    // Where the application keeps downloaded updates: a private folder of its cache.
    static QString defaultFolder();

signals:
    // Bytes received so far of the signed size.
    void progress(qint64 received, qint64 total);
    void finished(const snipjar::UpdateDownload::Result& result);

private:
    void receive(const QByteArray& piece);
    void handleFinished(const HttpGet::Answer& answer);
    QString failureOf(const HttpGet::Answer& answer) const;
    QString notTheSignedFile() const;
    QString cannotWrite() const;
    void fail(const QString& message);

    HttpModuleLoader loadHttp = &HttpModule::loaded;
    QTimer* stall;
    std::unique_ptr<HttpGet> transfer;
    std::unique_ptr<QFile> file;
    QCryptographicHash digest{QCryptographicHash::Sha256};
    UpdateInfo expected;
    QString finalPath;
    qint64 received = 0;
};

} // namespace snipjar

Q_DECLARE_METATYPE(snipjar::UpdateDownload::Result)
