#include "sync/cloud/postgres/PostgresCloudDatabase.h"
#include "sync/cloud/postgres/PostgresModule.h"

namespace snipjar::cloud {

namespace {

class PostgresServers final : public PostgresModule {
public:
    std::shared_ptr<CloudDatabase> open(const PostgresAccount& account) const override {
        return std::make_shared<PostgresCloudDatabase>(account);
    }
};

} // namespace

} // namespace snipjar::cloud

extern "C" Q_DECL_EXPORT const snipjar::cloud::PostgresModule* snipjar_postgres_module() {
    static const snipjar::cloud::PostgresServers module;
    return &module;
}
