#pragma once

#include <pqxx/connection>

#include <string>

namespace snipjar::server {

// Brings the database's schema to this program's version, one migration per transaction: none
// when it is current, all of them on an empty database. Several service processes starting at
// once take turns (an advisory lock), so a migration runs once. Returns a line for the operator
// ("schema created", "schema migrated to version 2", "schema present"); throws on failure.
std::string migrateSchema(pqxx::connection& connection);

} // namespace snipjar::server
