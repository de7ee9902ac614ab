#pragma once

#include "server/HttpServer.h"
#include "server/Service.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace snipjar::server {

// Everything the commands take, from the configuration file (key = value lines, 0600 because it
// holds the database password) and then from the command line, which wins.
struct ServerOptions {
    std::string command;
    std::vector<std::string> arguments;
    std::string database;
    ListenOptions listen;
    Service::Limits limits;
    std::optional<std::chrono::seconds> retention;
    std::chrono::seconds pruneInterval{3600};
    std::string selfSignedDir;
    std::string error;

    static ServerOptions parse(int argc, char** argv);
};

// The admin commands; each returns the process's exit status.
int initDatabase(const ServerOptions& options);
int addUser(const ServerOptions& options);
int removeUser(const ServerOptions& options);
int listUsers(const ServerOptions& options);
int setQuota(const ServerOptions& options);

// Writes a self-signed certificate and its key (0600) into a folder; prints its SHA-256
// fingerprint for users to compare at sign-in. False with a message on failure.
bool makeSelfSignedCertificate(const std::string& folder, std::string& certificate, std::string& key);

} // namespace snipjar::server
