#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace snipjar::test {

// A private PostgreSQL server with an empty "snipjar" database for tests and benchmarks, made by
// tests/support/pg-cluster.sh in a fresh temporary folder on a free TCP port; stopped and removed
// on destruction.
class PostgresCluster {
public:
    PostgresCluster();
    ~PostgresCluster();

    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    // Whether the server was made and started; otherwise error() says why.
    bool isReady() const { return ready; }
    const QString& error() const { return lastError; }

    bool stop() { return runScript({QStringLiteral("stop"), dir}); }
    bool start() { return runScript({QStringLiteral("start"), dir}); }
    bool restart() { return stop() && start(); }
    // The sync database into a file, and back from it (as an administrator restores a backup).
    bool backup(const QString& file) { return runScript({QStringLiteral("backup"), dir, file}); }
    bool restore(const QString& file) { return runScript({QStringLiteral("restore"), dir, file}); }

    // A libpq URI for a role with a password, over the Unix socket.
    QString socketURI(const QString& user) const;

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
