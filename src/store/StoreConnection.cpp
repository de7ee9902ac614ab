#include "store/StoreConnection.h"

#include "platform/LogCategories.h"

#include <QFile>

#include <sqlite3.h>

namespace snipjar {

StoreStatement::StoreStatement(sqlite3_stmt* statement, StoreConnection* connection)
    : statement(statement)
    , connection(connection) {}

StoreStatement::StoreStatement(StoreStatement&& other) noexcept
    : statement(std::exchange(other.statement, nullptr))
    , connection(other.connection)
    , boundValues(std::move(other.boundValues)) {}

StoreStatement::~StoreStatement() {
    if (statement) {
        // The statement stays cached in the connection; resetting it ends its read transaction and
        // releases the bound values before they are dropped below.
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
}

void StoreStatement::bindNull(int index) {
    if (statement) {
        sqlite3_bind_null(statement, index);
    }
}

void StoreStatement::bind(int index, qint64 value) {
    if (statement) {
        sqlite3_bind_int64(statement, index, value);
    }
}

void StoreStatement::bind(int index, const QString& value) {
    if (!statement) {
        return;
    }
    boundValues.append(value.toUtf8());
    const QByteArray& utf8 = boundValues.constLast();
    sqlite3_bind_text64(statement, index, utf8.constData(), sqlite3_uint64(utf8.size()), SQLITE_STATIC,
                        SQLITE_UTF8);
}

void StoreStatement::bind(int index, const std::optional<QString>& value) {
    if (value) {
        bind(index, *value);
    } else {
        bindNull(index);
    }
}

void StoreStatement::bind(int index, const std::optional<qint64>& value) {
    if (value) {
        bind(index, *value);
    } else {
        bindNull(index);
    }
}

void StoreStatement::bindBytes(int index, const QByteArray& value) {
    if (!statement) {
        return;
    }
    if (value.isEmpty()) {
        sqlite3_bind_zeroblob(statement, index, 0);
        return;
    }
    boundValues.append(value);
    const QByteArray& kept = boundValues.constLast();
    sqlite3_bind_blob64(statement, index, kept.constData(), sqlite3_uint64(kept.size()), SQLITE_STATIC);
}

void StoreStatement::bind(int index, const std::optional<QByteArray>& value) {
    if (value) {
        bindBytes(index, *value);
    } else {
        bindNull(index);
    }
}

StoreStatement::Step StoreStatement::step() {
    if (!statement) {
        return Step::error;
    }
    switch (sqlite3_step(statement)) {
    case SQLITE_ROW:
        return Step::row;
    case SQLITE_DONE:
        return Step::done;
    default:
        qCDebug(lcStore) << "statement failed:" << connection->lastError();
        return Step::error;
    }
}

bool StoreStatement::run() {
    Step result = step();
    while (result == Step::row) {
        result = step();
    }
    return result == Step::done;
}

bool StoreStatement::isNull(int column) const {
    return sqlite3_column_type(statement, column) == SQLITE_NULL;
}

qint64 StoreStatement::integer(int column) const {
    return sqlite3_column_int64(statement, column);
}

QString StoreStatement::text(int column) const {
    const auto* characters = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    const int length = sqlite3_column_bytes(statement, column);
    return characters ? QString::fromUtf8(characters, length) : QString();
}

std::optional<QString> StoreStatement::optionalText(int column) const {
    if (isNull(column)) {
        return std::nullopt;
    }
    return text(column);
}

std::optional<qint64> StoreStatement::optionalInteger(int column) const {
    if (isNull(column)) {
        return std::nullopt;
    }
    return integer(column);
}

std::optional<QByteArray> StoreStatement::optionalBytes(int column) const {
    if (isNull(column)) {
        return std::nullopt;
    }
    const void* bytes = sqlite3_column_blob(statement, column);
    const int length = sqlite3_column_bytes(statement, column);
    if (!bytes || length <= 0) {
        return QByteArray();
    }
    return QByteArray(static_cast<const char*>(bytes), length);
}

std::unique_ptr<StoreConnection> StoreConnection::open(const QString& location, Access access) {
    int flags = SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
    flags |= access == Access::readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    sqlite3* database = nullptr;
    const int result = sqlite3_open_v2(QFile::encodeName(location).constData(), &database, flags, nullptr);
    if (result != SQLITE_OK) {
        qCDebug(lcStore) << "cannot open" << location << (database ? sqlite3_errmsg(database) : "");
        sqlite3_close_v2(database);
        return nullptr;
    }
    sqlite3_extended_result_codes(database, 1);
    auto connection = std::unique_ptr<StoreConnection>(new StoreConnection(database));
    connection->setBusyTimeout(busyTimeoutMilliseconds);
    return connection;
}

StoreConnection::StoreConnection(sqlite3* database)
    : database(database) {}

StoreConnection::~StoreConnection() {
    for (sqlite3_stmt* statement : std::as_const(statements)) {
        sqlite3_finalize(statement);
    }
    sqlite3_close_v2(database);
}

bool StoreConnection::exec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(database, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        qCDebug(lcStore) << "statement failed:" << (message ? message : "") << sql;
        sqlite3_free(message);
        return false;
    }
    return true;
}

std::optional<QString> StoreConnection::queryText(const char* sql) {
    StoreStatement statement = prepare(QString::fromLatin1(sql));
    if (statement.step() != StoreStatement::Step::row) {
        return std::nullopt;
    }
    return statement.text(0);
}

std::optional<qint64> StoreConnection::queryInteger(const char* sql) {
    StoreStatement statement = prepare(QString::fromLatin1(sql));
    if (statement.step() != StoreStatement::Step::row) {
        return std::nullopt;
    }
    return statement.integer(0);
}

StoreStatement StoreConnection::prepare(const QString& sql) {
    auto cached = statements.constFind(sql);
    if (cached != statements.constEnd()) {
        return StoreStatement(*cached, this);
    }
    const QByteArray utf8 = sql.toUtf8();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(database, utf8.constData(), int(utf8.size()), SQLITE_PREPARE_PERSISTENT,
                           &statement, nullptr) != SQLITE_OK) {
        qCDebug(lcStore) << "cannot prepare:" << lastError() << sql;
        sqlite3_finalize(statement);
        return StoreStatement(nullptr, this);
    }
    statements.insert(sql, statement);
    return StoreStatement(statement, this);
}

bool StoreConnection::isInTransaction() const {
    return sqlite3_get_autocommit(database) == 0;
}

qint64 StoreConnection::changedRows() const {
    return sqlite3_changes64(database);
}

void StoreConnection::setBusyTimeout(int milliseconds) {
    sqlite3_busy_timeout(database, milliseconds);
}

QString StoreConnection::lastError() const {
    return QString::fromUtf8(sqlite3_errmsg(database));
}

} // namespace snipjar
