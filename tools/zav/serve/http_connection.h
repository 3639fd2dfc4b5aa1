// The connections of the web side, scheduled a request at a time: a worker
// takes a connection whose request has begun to arrive, answers that one
// request and gives the connection back; while it waits for its next
// request it is parked with a watcher thread and holds no worker. So
// clients are answered in turn however many keep their connections open,
// and an idle connection costs a file descriptor, not a thread.
//
// Each request must arrive whole within a few seconds of its first byte and
// its answer be taken within a few seconds more: a client that sends its
// request, or reads its answer, a byte at a time holds a worker for that
// long at most (the HTTP library bounds only each read and write).
#ifndef ZAV_TOOL_SERVE_HTTP_CONNECTION_H
#define ZAV_TOOL_SERVE_HTTP_CONNECTION_H

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>

namespace zavtool {

struct ConnectionLimits {
    size_t workers = 8;                       // requests answered at once
    size_t queued = 16;                       // accepted connections waiting for a worker
    size_t parked = 4096;                     // open connections waiting for their next request
    size_t requests = 100;                    // requests on one connection
    std::chrono::milliseconds idle{5000};     // waiting for the next request
    std::chrono::milliseconds request{5000};  // from a request's first byte to its last
    std::chrono::milliseconds answer{10000};  // from an answer's first byte to its last
};

class RequestPool;

class GuardedServer : public httplib::Server {
public:
    explicit GuardedServer(const ConnectionLimits &limits);

private:
    friend class RequestPool;
    // A connection just accepted (the library's call).
    bool process_and_close_socket(socket_t sock) override;
    // Answer one request of `sock` (its `served`th) if it has begun to
    // arrive, then park the connection or close it.
    void turn(socket_t sock, size_t served);

    ConnectionLimits limits_;
    std::atomic<RequestPool *> pool_{nullptr};  // while the server listens
};

}  // namespace zavtool

#endif
