#include "PostgresCluster.h"

#include <QDir>
#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace snipjar::test {

namespace {

// A TCP port nobody listens on right now.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

} // namespace

PostgresCluster::PostgresCluster() {
    // The server runs as another system user when we are root: its folder goes where it can reach.
    QByteArray pattern = QDir(::geteuid() == 0 ? QStringLiteral("/tmp") : QDir::tempPath())
                             .filePath(QStringLiteral("snipjar-pg-XXXXXX"))
                             .toLocal8Bit();
    if (::mkdtemp(pattern.data()) == nullptr) {
        lastError = QStringLiteral("no temporary folder");
        return;
    }
    dir = QString::fromLocal8Bit(pattern);
    for (int attempt = 0; attempt < 3 && !ready; ++attempt) {
        tcpPort = freePort();
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
        ready = runScript({QStringLiteral("init"), dir, QString::number(tcpPort)});
    }
}

PostgresCluster::~PostgresCluster() {
    if (!dir.isEmpty()) {
        stop();
        QDir(dir).removeRecursively();
    }
}

bool PostgresCluster::runScript(const QStringList& arguments, QString* output) {
    QProcess process;
    process.start(QStringLiteral(SNIPJAR_SOURCE_DIR "/tests/support/pg-cluster.sh"), arguments);
    if (!process.waitForFinished(180000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        lastError = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
        return false;
    }
    if (output != nullptr) {
        *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    }
    return true;
}

QString PostgresCluster::socketURI(const QString& user) const {
    return QStringLiteral("postgresql://%1@/snipjar?host=%2&port=%3").arg(user, dir).arg(tcpPort);
}

std::optional<QString> PostgresCluster::adminSQL(const QString& sql) {
    QString output;
    if (!runScript({QStringLiteral("psql"), dir, QStringLiteral("-At"), QStringLiteral("-c"), sql},
                   &output)) {
        return std::nullopt;
    }
    return output.trimmed();
}

} // namespace snipjar::test
