#include "TlsFront.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QSslKey>
#include <QSslSocket>

namespace snipjar::test {

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TlsFront::TlsFront(const QUrl& backend) {
    const QString certificatePath = folder.filePath(QStringLiteral("front.crt"));
    const QString keyPath = folder.filePath(QStringLiteral("front.key"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                   "-days", "1", "-subj", "/CN=127.0.0.1", "-keyout", keyPath, "-out", certificatePath});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) {
        return;
    }
    const QSslCertificate certificate(contents(certificatePath), QSsl::Pem);
    certificateFingerprint = QCryptographicHash::hash(certificate.toDer(), QCryptographicHash::Sha256);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificate);
    configuration.setPrivateKey(QSslKey(contents(keyPath), QSsl::Ec, QSsl::Pem));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    server.setSslConfiguration(configuration);
    QObject::connect(&server, &QTcpServer::pendingConnectionAvailable, &server, [this, backend] {
        while (QTcpSocket* front = server.nextPendingConnection()) {
            auto* back = new QTcpSocket(front);
            back->connectToHost(backend.host(), quint16(backend.port()));
            QObject::connect(front, &QTcpSocket::readyRead, back,
                             [front, back] { back->write(front->readAll()); });
            QObject::connect(back, &QTcpSocket::readyRead, front,
                             [front, back] { front->write(back->readAll()); });
            QObject::connect(back, &QTcpSocket::disconnected, front, &QTcpSocket::disconnectFromHost);
            QObject::connect(front, &QTcpSocket::disconnected, front, &QObject::deleteLater);
        }
    });
    server.listen(QHostAddress::LocalHost);
}

QUrl TlsFront::url() const {
    return QUrl(QStringLiteral("https://127.0.0.1:%1").arg(server.serverPort()));
}

} // namespace snipjar::test
