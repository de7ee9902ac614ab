#include "server/ServerOptions.h"

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <map>

namespace snipjar::server {

namespace {

std::string trim(const std::string& value) {
    const auto first = value.find_first_not_of(" \t");
    const auto last = value.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
}

// Applies one setting; false when the key is unknown or the value unusable.
bool apply(ServerOptions& options, const std::string& key, const std::string& value) {
    try {
        if (key == "database") {
            options.database = value;
        } else if (key == "listen") {
            const auto colon = value.rfind(':');
            if (colon == std::string::npos) {
                return false;
            }
            options.listen.address = value.substr(0, colon);
            options.listen.port = static_cast<unsigned short>(std::stoi(value.substr(colon + 1)));
        } else if (key == "certificate") {
            options.listen.certificateFile = value;
        } else if (key == "key") {
            options.listen.keyFile = value;
        } else if (key == "max-request-bytes") {
            options.limits.maxRequestBytes = std::stoll(value);
        } else if (key == "max-connections") {
            options.listen.maxConnections = std::stoi(value);
            if (options.listen.maxConnections < 1) {
                return false;
            }
        } else if (key == "max-asset-bytes") {
            options.limits.maxAssetBytes = std::stoll(value);
        } else if (key == "retention-seconds") {
            options.retention = std::chrono::seconds(std::stoll(value));
        } else if (key == "prune-interval-seconds") {
            options.pruneInterval = std::chrono::seconds(std::stoll(value));
        } else if (key == "self-signed") {
            options.selfSignedDir = value;
        } else {
            return false;
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

bool readConfig(ServerOptions& options, const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        options.error = "cannot read " + path;
        return false;
    }
    if ((info.st_mode & 077) != 0) {
        options.error = path + " is readable by others; it holds the database password (chmod 600)";
        return false;
    }
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos ||
            !apply(options, trim(line.substr(0, equals)), trim(line.substr(equals + 1)))) {
            options.error = "bad line in " + path + ": " + line;
            return false;
        }
    }
    return true;
}

} // namespace

ServerOptions ServerOptions::parse(int argc, char** argv) {
    ServerOptions options;
    std::vector<std::string> args(argv + 1, argv + argc);
    // The configuration file first, so that options given beside it win.
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--config" && !readConfig(options, args[i + 1])) {
            return options;
        }
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--config") {
            ++i;
        } else if (arg.rfind("--", 0) == 0) {
            if (i + 1 >= args.size() || !apply(options, arg.substr(2), args[i + 1])) {
                options.error = "bad option " + arg;
                return options;
            }
            ++i;
        } else if (options.command.empty()) {
            options.command = arg;
        } else {
            options.arguments.push_back(arg);
        }
    }
    if (options.database.empty() && options.error.empty()) {
        options.error = "no database: give --database CONNINFO or database = ... in --config";
    }
    return options;
}

} // namespace snipjar::server
