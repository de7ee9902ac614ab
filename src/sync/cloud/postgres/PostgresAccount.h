#pragma once

#include <QString>

#include <optional>
#include <string>

namespace snipjar::cloud {

// Where a user's sync server is and how to sign in: a libpq connection URI (or key=value string)
// and the password, when it is not left to libpq's password or service file.
struct PostgresAccount {
    QString connectionURI;
    std::optional<QString> password;
};

// The libpq connection string for an account: the password and a connect timeout added.
std::string postgresConnectionString(const PostgresAccount& account);

} // namespace snipjar::cloud
