#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace snipjar::test {

// A private PostgreSQL sync server for tests and benchmarks, made by scripts/sync-server.sh in a
// fresh temporary folder on a free TCP port; stopped and removed on destruction.
class PostgresCluster {
public:
    PostgresCluster();
    ~PostgresCluster();

    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    // Whether the server was made and started; otherwise error() says why.
    bool isReady() const { return ready; }
    const QString& error() const { return lastError; }

    bool stop();
    bool start();
    bool restart() { return stop() && start(); }
    // The sync database into a file, and back from it (as an administrator restores a backup).
    bool backup(const QString& file) { return runScript({QStringLiteral("backup"), dir, file}); }
    bool restore(const QString& file) { return runScript({QStringLiteral("restore"), dir, file}); }

    // Adds a LOGIN role in the sync users' group; true when it was made.
    bool addUser(const QString& name, const QString& password);

    // A libpq URI for the user, over the Unix socket or over TCP on 127.0.0.1.
    QString socketURI(const QString& user) const;
    QString tcpURI(const QString& user) const;

    // Runs SQL as the administrator (psql on the socket); the unaligned output, or none on failure.
    std::optional<QString> adminSQL(const QString& sql);

private:
    bool runScript(const QStringList& arguments, QString* output = nullptr);

    QString dir;
    int tcpPort = 0;
    bool ready = false;
    QString lastError;
};

} // namespace snipjar::test
