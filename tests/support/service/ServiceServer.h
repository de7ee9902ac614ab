#pragma once

#include "sync/cloud/service/ServiceCloudDatabase.h"

#include <QProcess>
#include <QStringList>

#include <memory>
#include <optional>

namespace snipjar::test {

class PostgresCluster;

// snipjar-server run as a process on 127.0.0.1 over a private PostgreSQL, with a service role of
// its own; stopped on destruction. Limits are small so that tests can pass them.
class ServiceServer {
public:
    static constexpr qint64 maxRequestBytes = 4 * 1024 * 1024;
    // Connections the server keeps open at most, unless a benchmark asks for more.
    static constexpr int maxConnections = 256;

    explicit ServiceServer(PostgresCluster& cluster);
    ~ServiceServer() { stop(); }

    bool start(int connections = maxConnections);
    void stop();
    bool isRunning() const { return process && process->state() == QProcess::Running; }
    qint64 processId() const { return process ? process->processId() : 0; }

    // An admin command's standard output, or none when it failed.
    std::optional<QString> admin(const QStringList& arguments, const QByteArray& input = {});
    // A new account (a unique name made from `user`) signed in from a new device.
    cloud::ServiceAccount newAccount(const QString& user);
    // Another device of the account.
    cloud::ServiceAccount signIn(const QString& user, const QString& password = QStringLiteral("password-1"));
    QString userOf(const cloud::ServiceAccount& account) const { return users.value(account.accountId); }
    const QString& databaseURI() const { return database; }

private:
    QString database;
    QUrl url;
    std::unique_ptr<QProcess> process;
    QHash<QString, QString> users; // account id -> user name
};

} // namespace snipjar::test
