// The network side of `zav serve`: a TCP server on Asio that hands each
// command line to the protocol and each reply back to its client.
#ifndef ZAV_TOOL_SERVE_NET_H
#define ZAV_TOOL_SERVE_NET_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "serve/books.h"

namespace zavtool {

struct ServerOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 2628;  // 0: any free port, printed when listening
    size_t threads = 4;
    size_t maxClients = 100;
    size_t maxPerAddress = 16;  // clients at once from one IP address
    unsigned idleSeconds = 60;  // a client that sends nothing, or reads nothing, this long is closed
    size_t maxOutput = 1u << 20;
    unsigned commandSeconds = 5;  // the time a worker may spend on one command
};

// Serve the catalog until SIGINT or SIGTERM. Prints "listening on ADDR:PORT"
// to standard output once the socket is bound and one line per command to
// standard error. Returns the process exit code.
//
// One thread does all the network work (accepting, greeting, reading,
// writing, time-outs) and never waits on a command; `threads` workers answer
// the commands, taking those of each client address in turn. A command gets a
// Budget of `commandSeconds` from when a worker takes it (past it the answer
// is 420), cancelled when the server stops or its client goes: a read error,
// or the client closing its side and the command still out half a second
// later. A half-closed client still gets its answers, each command then
// within half a second. At most `maxPerAddress` clients come from one
// address; while more than three quarters of `maxClients` are connected, a
// client idle for 3 seconds is closed.
int runServer(const Catalog &catalog, const ServerOptions &options);

}  // namespace zavtool

#endif
