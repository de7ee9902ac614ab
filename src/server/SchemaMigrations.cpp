#include "server/SchemaMigrations.h"

#include <pqxx/result>
#include <pqxx/transaction>

#include <cstddef>
#include <stdexcept>

namespace snipjar::server {

// Compiled in from migrations/*.sql by the build, the first one being version 1.
extern const char* const schemaMigrations[];
extern const std::size_t schemaMigrationCount;

namespace {

// Any constant that no other program takes: it serialises the service's own migrations only.
constexpr std::int64_t migrationLock = 0x736e69706a6172; // "snipjar"

} // namespace

std::string migrateSchema(pqxx::connection& connection) {
    std::size_t first = 0;
    std::size_t current = 0;
    for (;;) {
        pqxx::work tx(connection);
        tx.exec_params("SELECT pg_advisory_xact_lock($1)", migrationLock);
        if (!tx.exec("SELECT to_regclass('snipjar_service.server')")[0][0].is_null()) {
            current = tx.exec("SELECT schema_version FROM snipjar_service.server")[0][0].as<std::size_t>();
        }
        if (first == 0) {
            first = current;
        }
        if (current > schemaMigrationCount) {
            throw std::runtime_error("the database's schema (version " + std::to_string(current) +
                                     ") is newer than this program's");
        }
        if (current == schemaMigrationCount) {
            break;
        }
        tx.exec(schemaMigrations[current]);
        tx.commit();
    }
    // A migration's SET search_path stays with the connection; the service's sessions set their
    // own, so nothing depends on it.
    if (first == current) {
        return "schema present";
    }
    return first == 0 ? "schema created" : "schema migrated to version " + std::to_string(current);
}

} // namespace snipjar::server
