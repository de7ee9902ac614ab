#pragma once

#include "sync/cloud/CloudDatabase.h"
#include "sync/cloud/postgres/PostgresAccount.h"

#include <memory>

namespace snipjar::cloud {

// What the PostgreSQL sync module offers the application: the module carries the PostgreSQL
// client (libpqxx and libpq, with the fifteen libraries they bring), which the application loads
// when sync first starts instead of linking it at every start, sync on or off. Tests that talk to
// a server link the module directly and use PostgresCloudDatabase itself.
class PostgresModule {
public:
    virtual ~PostgresModule() = default;

    // The user's records on the server of the account (a PostgresCloudDatabase).
    virtual std::shared_ptr<CloudDatabase> open(const PostgresAccount& account) const = 0;
};

} // namespace snipjar::cloud

// The module's one entry point.
extern "C" {
using SnipjarPostgresModuleEntry = const snipjar::cloud::PostgresModule* (*)();
}
#define SNIPJAR_POSTGRES_MODULE_ENTRY "snipjar_postgres_module"
