// The network side of `zav serve`: a TCP server on Asio that hands each
// command line to the protocol and each reply back to its client.
#ifndef ZAV_TOOL_SERVE_NET_H
#define ZAV_TOOL_SERVE_NET_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "serve_books.h"

namespace zavtool {

struct ServerOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 2628;  // 0: any free port, printed when listening
    size_t threads = 4;
    size_t maxClients = 100;
    unsigned idleSeconds = 60;  // a client that sends nothing, or reads nothing, this long is closed
    size_t maxOutput = 1u << 20;
};

// Serve the catalog until SIGINT or SIGTERM. Prints "listening on ADDR:PORT"
// to standard output once the socket is bound and one line per command to
// standard error. Returns the process exit code.
int runServer(const Catalog &catalog, const ServerOptions &options);

}  // namespace zavtool

#endif
