#pragma once

#include "server/PushHub.h"
#include "server/Service.h"

#include <string>

namespace snipjar::server {

struct ListenOptions {
    std::string address = "127.0.0.1";
    unsigned short port = 8443;
    // Both or neither; without them the server listens only on a loopback address, in plain HTTP.
    std::string certificateFile;
    std::string keyFile;
    int ioThreads = 2;
    int databaseThreads = 4;
    // Open connections (push sockets included) beyond which new ones are closed at once, so that
    // a flood of idle connections cannot use up the process's file descriptors.
    int maxConnections = 10000;
};

// Serves the protocol over HTTP/1.1 (TLS unless on loopback without a certificate) and the push
// WebSocket until SIGINT or SIGTERM. Requests are read on the I/O threads and answered by the
// service on the database threads, so that no I/O thread waits for the database. Prints
// "listening on ADDRESS:PORT" once the socket is bound; returns the process's exit status.
int serveHttp(const ListenOptions& options, Service& service, PushHub& hub);

} // namespace snipjar::server
