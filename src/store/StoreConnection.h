#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace snipjar {

class StoreConnection;

// A prepared statement taken from a connection's cache. Binding keeps the bound bytes alive (by
// implicit sharing, without copying them) until the statement is reset, which happens when the
// object goes out of scope, so large values are never copied into SQLite's own buffers.
class StoreStatement {
public:
    enum class Step { row, done, error };

    StoreStatement(sqlite3_stmt* statement, StoreConnection* connection);
    ~StoreStatement();
    StoreStatement(StoreStatement&& other) noexcept;
    StoreStatement(const StoreStatement&) = delete;
    StoreStatement& operator=(const StoreStatement&) = delete;
    StoreStatement& operator=(StoreStatement&&) = delete;

    bool isValid() const { return statement != nullptr; }

    // Parameter indexes start at 1, as in SQLite.
    void bindNull(int index);
    void bind(int index, qint64 value);
    void bind(int index, bool value) { bind(index, qint64(value ? 1 : 0)); }
    void bind(int index, const QString& value);
    void bind(int index, const std::optional<QString>& value);
    void bind(int index, const std::optional<qint64>& value);
    void bindBytes(int index, const QByteArray& value);
    void bind(int index, const std::optional<QByteArray>& value);

    Step step();
    // Steps until the statement is done; false when it failed.
    bool run();

    // Column indexes start at 0.
    bool isNull(int column) const;
    qint64 integer(int column) const;
    bool boolean(int column) const { return integer(column) != 0; }
    QString text(int column) const;
    std::optional<QString> optionalText(int column) const;
    std::optional<qint64> optionalInteger(int column) const;
    std::optional<QByteArray> optionalBytes(int column) const;

private:
    sqlite3_stmt* statement = nullptr;
    StoreConnection* connection = nullptr;
    QList<QByteArray> boundValues;
};

// One SQLite connection with a cache of prepared statements. A connection is used by one thread at a
// time; it waits for other connections' locks (busy timeout) rather than failing at once.
class StoreConnection {
public:
    enum class Access { readWrite, readOnly };

    static constexpr int busyTimeoutMilliseconds = 10'000;

    // Opens a file path or a "file:" URI. None when SQLite cannot open it at all; a file that is
    // not a database is only found out at the first statement.
    static std::unique_ptr<StoreConnection> open(const QString& location, Access access);
    ~StoreConnection();
    StoreConnection(const StoreConnection&) = delete;
    StoreConnection& operator=(const StoreConnection&) = delete;

    sqlite3* handle() const { return database; }

    // Runs one or more statements without results; logs and returns false on failure.
    bool exec(const char* sql);
    // A single text or integer result of a statement such as a pragma; none on failure.
    std::optional<QString> queryText(const char* sql);
    std::optional<qint64> queryInteger(const char* sql);

    // The cached statement for this SQL text (prepared on first use). Invalid on failure.
    StoreStatement prepare(const QString& sql);

    bool isInTransaction() const;
    // Rows changed by the last INSERT, UPDATE or DELETE of this connection.
    qint64 changedRows() const;
    QString lastError() const;

    // How long a statement waits for another connection's lock before it fails as busy.
    void setBusyTimeout(int milliseconds);

private:
    explicit StoreConnection(sqlite3* database);

    sqlite3* database = nullptr;
    QHash<QString, sqlite3_stmt*> statements;
};

} // namespace snipjar
