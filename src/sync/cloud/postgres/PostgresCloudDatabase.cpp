#include "sync/cloud/postgres/PostgresCloudDatabase.h"

#include "platform/LogCategories.h"
#include "sync/cloud/FetchedAssetFolder.h"
#include "sync/cloud/postgres/PostgresChanges.h"
#include "sync/cloud/postgres/PostgresErrors.h"
#include "sync/cloud/postgres/PostgresPushSubscription.h"

#include <QHash>
#include <QUrl>

#include <libpq-fe.h>

#include <pqxx/connection>
#include <pqxx/nontransaction>

namespace snipjar::cloud {

namespace {

bool isURI(const QString& text) {
    return text.startsWith(QLatin1String("postgresql://")) || text.startsWith(QLatin1String("postgres://"));
}

QString quotedValue(const QString& value) {
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

} // namespace

std::string postgresConnectionString(const PostgresAccount& account) {
    QString result = account.connectionURI.trimmed();
    QList<std::pair<QString, QString>> extra;
    if (account.password) {
        extra.append({QStringLiteral("password"), *account.password});
    }
    if (!result.contains(QLatin1String("connect_timeout"))) {
        extra.append({QStringLiteral("connect_timeout"), QStringLiteral("15")});
    }
    if (!result.contains(QLatin1String("application_name"))) {
        extra.append({QStringLiteral("application_name"), QStringLiteral("snipjar")});
    }
    const bool uri = isURI(result);
    for (const auto& [key, value] : extra) {
        if (uri) {
            result += (result.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?')) + key +
                      QLatin1Char('=') + QString::fromLatin1(QUrl::toPercentEncoding(value));
        } else {
            result += QLatin1Char(' ') + key + QLatin1Char('=') + quotedValue(value);
        }
    }
    return result.toStdString();
}

PostgresCloudDatabase::PostgresCloudDatabase(PostgresAccount account)
    : account(std::move(account))
    , connectionString(postgresConnectionString(this->account)) {}

PostgresCloudDatabase::~PostgresCloudDatabase() = default;

pqxx::connection& PostgresCloudDatabase::connection() {
    {
        std::lock_guard lock(connectionMutex);
        if (live && live->is_open()) {
            return *live;
        }
    }
    auto fresh = std::make_unique<pqxx::connection>(connectionString);
    pqxx::nontransaction setup(*fresh);
    setup.exec0("SET statement_timeout = '" + std::to_string(statementTimeoutSeconds) + "s'");
    setup.exec0("SET idle_in_transaction_session_timeout = '" + std::to_string(statementTimeoutSeconds) +
                "s'");
    const pqxx::result version = setup.exec("SELECT max(version) FROM snipjar.schema_version");
    if (version.empty() || version[0][0].is_null() || version[0][0].as<int>() != postgresSchemaVersion) {
        throw PostgresIncompatibleSchema();
    }
    setup.commit();
    std::lock_guard lock(connectionMutex);
    live = std::move(fresh);
    return *live;
}

void PostgresCloudDatabase::dropConnection() {
    std::unique_ptr<pqxx::connection> gone;
    std::lock_guard lock(connectionMutex);
    gone = std::move(live);
}

void PostgresCloudDatabase::throwIfCancelled() const {
    if (cancelled) {
        throw PostgresCancelled();
    }
}

template <typename T>
CloudResult<T> PostgresCloudDatabase::run(const char* operation,
                                          const std::function<CloudResult<T>(pqxx::connection&)>& body) {
    cancelled = false;
    inCall = true;
    struct CallEnd {
        std::atomic<bool>& inCall;
        ~CallEnd() { inCall = false; }
    } callEnd{inCall};
    try {
        return body(connection());
    } catch (const std::exception& failure) {
        CloudError error = postgresError(failure, cancelled);
        if (postgresConnectionLost(failure)) {
            dropConnection();
        }
        qCWarning(lcSync) << "A call to the sync server failed:" << operation
                          << cloudErrorCodeName(error.code) << error.description;
        return error;
    }
}

CloudStatus PostgresCloudDatabase::saveZone(const RecordZoneID& zone) {
    return run<std::monostate>("saveZone", [&](pqxx::connection& c) { return postgres::saveZone(c, zone); });
}

CloudResult<ModifyOutcome> PostgresCloudDatabase::modifyRecords(const QList<CloudRecord>& saves,
                                                                const QList<RecordID>& deletions) {
    conflictAssets.reset();
    return run<ModifyOutcome>("modifyRecords", [&](pqxx::connection& c) {
        return postgres::modifyRecords(
            c, saves, deletions, [this] { throwIfCancelled(); }, conflictAssets);
    });
}

CloudResult<ChangePage> PostgresCloudDatabase::fetchChanges(const RecordZoneID& zone,
                                                            const std::optional<ChangeToken>& since) {
    return run<ChangePage>("fetchChanges", [&](pqxx::connection& c) {
        return postgres::fetchChanges(c, zone, since, [this] { throwIfCancelled(); });
    });
}

std::unique_ptr<PushSubscription> PostgresCloudDatabase::subscribe(std::function<void()> onNotice) {
    return std::make_unique<PostgresPushSubscription>(connectionString, std::move(onNotice));
}

QString PostgresCloudDatabase::accountIdentity() const {
    // libpq's own reading of the URI, so that its spellings (URI or key=value, percent-encoding,
    // parameters after "?") name the same account alike.
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(account.connectionURI.trimmed().toUtf8().constData(), &error);
    if (options == nullptr) {
        PQfreemem(error);
        return QStringLiteral("postgresql:") + account.connectionURI.trimmed();
    }
    QHash<QByteArray, QString> values;
    for (const PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
        if (option->val != nullptr) {
            values.insert(option->keyword, QString::fromUtf8(option->val));
        }
    }
    PQconninfoFree(options);
    const QString user = values.value("user");
    return QStringLiteral("postgresql:%1@%2:%3/%4")
        .arg(user, values.value("host", values.value("hostaddr")), values.value("port"),
             values.value("dbname", user));
}

void PostgresCloudDatabase::cancel() {
    if (!inCall) {
        return;
    }
    cancelled = true;
    std::lock_guard lock(connectionMutex);
    if (live) {
        try {
            live->cancel_query();
        } catch (const std::exception&) {
            // The call fails with operationCancelled at its next step all the same.
        }
    }
}

} // namespace snipjar::cloud
