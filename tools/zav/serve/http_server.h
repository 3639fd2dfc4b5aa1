// The web side of `zav serve`: an HTTP server (cpp-httplib) that answers a
// JSON API from the catalog's shelf and serves the web page built into the
// binary. No path from a request reaches the file system: books are named
// by their database id, and files by their names in the built-in table.
#ifndef ZAV_TOOL_SERVE_HTTP_SERVER_H
#define ZAV_TOOL_SERVE_HTTP_SERVER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "serve/books.h"

namespace zavtool {

struct HttpOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 8080;         // 0: any free port, printed when listening
    size_t threads = 8;           // requests answered at once; connections past twice as many wait to be accepted
    unsigned requestSeconds = 5;  // a request's time on the shelf; past it the answer is 503
    size_t maxOutput = 1u << 20;  // the most text one answer holds
    std::string logPath;          // access log, appended to; empty: none
};

class HttpServer {
public:
    HttpServer(const Catalog &catalog, const HttpOptions &options);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Bind, print "http listening on ADDR:PORT" and serve from a thread of
    // its own. False with *error when the address cannot be bound or the
    // log cannot be opened.
    bool start(std::string *error);
    // Cancel the requests being answered, stop and join. Idempotent.
    void stop();

private:
    struct State;
    std::unique_ptr<State> state_;
    std::thread thread_;
};

}  // namespace zavtool

#endif
