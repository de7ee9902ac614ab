#include "ServiceServer.h"

#include "PostgresCluster.h"

#include <gtest/gtest.h>

namespace snipjar::test {

ServiceServer::ServiceServer(PostgresCluster& cluster) {
    static int next = 0;
    const QString role = QStringLiteral("service_%1").arg(++next);
    if (!cluster.adminSQL(QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD 'pw-%1'; "
                                         "GRANT CREATE ON DATABASE snipjar TO %1;")
                              .arg(role))) {
        ADD_FAILURE() << "no service role: " << cluster.error().toStdString();
    }
    database = cluster.socketURI(role) + QStringLiteral("&password=pw-") + role;
    if (!admin({QStringLiteral("init")})) {
        ADD_FAILURE() << "snipjar-server init failed";
    }
}

std::optional<QString> ServiceServer::admin(const QStringList& arguments, const QByteArray& input) {
    QProcess command;
    command.start(QStringLiteral(SNIPJAR_SERVER_BINARY),
                  QStringList{QStringLiteral("--database"), database} + arguments);
    command.write(input);
    command.closeWriteChannel();
    if (!command.waitForFinished(60000) || command.exitStatus() != QProcess::NormalExit ||
        command.exitCode() != 0) {
        return std::nullopt;
    }
    return QString::fromUtf8(command.readAllStandardOutput()).trimmed();
}

bool ServiceServer::start(int connections) {
    // The first start takes a free port; restarts keep it, as clients know the address.
    const QString listen =
        url.isEmpty() ? QStringLiteral("127.0.0.1:0") : QStringLiteral("127.0.0.1:%1").arg(url.port());
    process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QStringLiteral(SNIPJAR_SERVER_BINARY),
                   {QStringLiteral("--database"), database, QStringLiteral("serve"),
                    QStringLiteral("--listen"), listen, QStringLiteral("--max-request-bytes"),
                    QString::number(maxRequestBytes), QStringLiteral("--max-asset-bytes"),
                    QString::number(2 * maxRequestBytes), QStringLiteral("--max-connections"),
                    QString::number(connections)});
    while (process->waitForReadyRead(10000)) {
        const QString line = QString::fromUtf8(process->readLine()).trimmed();
        if (line.startsWith(QStringLiteral("listening on "))) {
            url = QUrl(QStringLiteral("http://") + line.mid(13));
            return true;
        }
    }
    return false;
}

void ServiceServer::stop() {
    if (isRunning()) {
        process->terminate();
        if (!process->waitForFinished(10000)) {
            process->kill();
            process->waitForFinished();
        }
    }
}

cloud::ServiceAccount ServiceServer::newAccount(const QString& user) {
    static int next = 0;
    const QString name = QStringLiteral("%1_%2").arg(user).arg(++next);
    if (!admin({QStringLiteral("add-user"), name}, "password-1\n")) {
        ADD_FAILURE() << "add-user failed";
    }
    return signIn(name);
}

cloud::ServiceAccount ServiceServer::signIn(const QString& user, const QString& password) {
    auto answer = cloud::signInToService(url, user, password, QStringLiteral("test device"));
    if (!answer) {
        ADD_FAILURE() << "sign-in failed: " << answer.error().description.toStdString();
        return {};
    }
    users.insert(answer.value().accountId, user);
    return {url, answer.value().token, answer.value().accountId, answer.value().epoch, {}};
}

} // namespace snipjar::test
