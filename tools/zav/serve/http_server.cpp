#include "serve/http_server.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <mutex>
#include <vector>

#include "serve/http_api.h"
#include "serve/http_connection.h"
#include "serve/http_files.h"
#include "serve/log.h"

namespace zavtool {

namespace {

constexpr size_t kMaxPayload = 8192;  // requests are GET: a body is refused past this (413)
constexpr size_t kMaxHeaders = 64;    // more header fields are refused (431)
constexpr int kBacklog = 1024;        // connections waiting to be accepted

const char kSecurityPolicy[] =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
    "object-src 'none'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'";

std::string contentType(const std::string &name) {
    static const std::map<std::string, std::string> types = {{"html", "text/html; charset=utf-8"},
                                                             {"js", "text/javascript; charset=utf-8"},
                                                             {"css", "text/css; charset=utf-8"},
                                                             {"json", "application/json"},
                                                             {"svg", "image/svg+xml"},
                                                             {"png", "image/png"},
                                                             {"ico", "image/x-icon"},
                                                             {"txt", "text/plain; charset=utf-8"}};
    size_t dot = name.rfind('.');
    auto it = dot == std::string::npos ? types.end() : types.find(name.substr(dot + 1));
    return it == types.end() ? "application/octet-stream" : it->second;
}

// A strong validator of a file's bytes: its 64-bit FNV-1a hash.
std::string entityTag(const unsigned char *data, size_t size) {
    uint64_t h = 14695981039346656037ull;
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
    char text[24];
    std::snprintf(text, sizeof text, "\"%016llx\"", static_cast<unsigned long long>(h));
    return text;
}

// Whether an If-None-Match field names `tag` (or is *).
bool matchesTag(const std::string &field, const std::string &tag) {
    if (field == "*") return true;
    size_t at = 0;
    while ((at = field.find(tag, at)) != std::string::npos) {
        if (at == 0 || field[at - 1] == ' ' || field[at - 1] == ',' || field[at - 1] == '/') return true;
        ++at;
    }
    return false;
}

void sendJson(httplib::Response &res, int status, const nlohmann::json &body) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), "application/json");
}

// Whether a Content-Length field says more than kMaxPayload bytes (or is no
// number).
bool declaredTooLarge(const std::string &field) {
    if (field.empty() || field.size() > 18 || field.find_first_not_of("0123456789") != std::string::npos) return true;
    return std::stoull(field) > kMaxPayload;
}

const char *statusText(int status) {
    switch (status) {
        case 400: return "bad request";
        case 404: return "not found";
        case 405: return "method not allowed";
        case 413: return "request too large";
        case 414: return "request URI too long";
        case 431: return "too many or too large header fields";
        case 503: return "over budget";
        default: return "request failed";
    }
}

// The limits of connections, requests and time, and the headers every
// answer carries.
void setLimits(httplib::Server &server) {
    server.set_tcp_nodelay(true);  // an answer's header and body are written apart: no 40 ms delayed ACK
    server.set_payload_max_length(kMaxPayload);
    server.set_default_headers({{"Content-Security-Policy", kSecurityPolicy},
                                {"X-Content-Type-Options", "nosniff"},
                                {"X-Frame-Options", "DENY"},
                                {"Referrer-Policy", "no-referrer"}});
}

// Requests refused before any route: too many header fields, a body, a
// method other than GET and HEAD; and a JSON body for every error.
void setGuards(httplib::Server &server) {
    server.set_pre_routing_handler([](const httplib::Request &req, httplib::Response &res) {
        if (req.headers.size() > kMaxHeaders) {
            sendJson(res, 431, {{"error", statusText(431)}});
            return httplib::Server::HandlerResponse::Handled;
        }
        // Nothing here takes a body: one declared larger than the limit is
        // refused before anything reads it.
        if (req.has_header("Content-Length") && declaredTooLarge(req.get_header_value("Content-Length"))) {
            sendJson(res, 413, {{"error", statusText(413)}});
            res.set_header("Connection", "close");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.method != "GET" && req.method != "HEAD") {
            res.set_header("Allow", "GET, HEAD");
            sendJson(res, 405, {{"error", statusText(405)}});
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // A status the library sets itself (a bad or too large request), or a
    // path no route takes: the body says why, as JSON.
    server.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request &, httplib::Response &res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        sendJson(res, res.status, {{"error", statusText(res.status)}});
        return httplib::Server::HandlerResponse::Handled;
    }));
    server.set_exception_handler([](const httplib::Request &, httplib::Response &res, const std::exception_ptr &) {
        sendJson(res, 500, {{"error", "the request failed"}});
    });
}

// The API under /api/ and the built-in files by name.
void setRoutes(httplib::Server &server, HttpApi &api, const std::map<std::string, std::string> &tags) {
    server.Get(R"(/api/([a-z]+))", [&api](const httplib::Request &req, httplib::Response &res) {
        ApiAnswer a = api.answer(req.matches[1], req.params);
        sendJson(res, a.status, a.body);
    });
    server.Get(R"(/([A-Za-z0-9_-]+(\.[A-Za-z0-9]+)?)?)", [&tags](const httplib::Request &req, httplib::Response &res) {
        std::string name = req.path == "/" ? "index.html" : req.path.substr(1);
        for (size_t i = 0; i < kWebFileCount; ++i) {
            if (name != kWebFiles[i].name) continue;
            const std::string &tag = tags.at(name);
            res.set_header("ETag", tag);
            res.set_header("Cache-Control", "no-cache");
            if (req.has_header("If-None-Match") && matchesTag(req.get_header_value("If-None-Match"), tag)) {
                res.status = 304;
                return;
            }
            res.set_content(reinterpret_cast<const char *>(kWebFiles[i].data), kWebFiles[i].size, contentType(name));
            return;
        }
        sendJson(res, 404, {{"error", "no such file"}});
    });
}

}  // namespace

struct HttpServer::State {
    State(const Catalog &catalog, const HttpOptions &o)
        : options(o),
          api(catalog, ApiLimits{o.requestSeconds * 1000u, o.maxOutput, &cancel}),
          server(ConnectionLimits{o.threads, o.threads * 2}) {}

    HttpOptions options;
    volatile int cancel = 0;
    HttpApi api;
    GuardedServer server;
    std::FILE *log = nullptr;
    std::map<std::string, std::string> tags;  // file name -> ETag
    std::atomic<bool> stopped{false};
    std::atomic<bool> listening{true};  // false once the listening thread is done
    socket_t socket = INVALID_SOCKET;   // the listening socket, once made
};

HttpServer::HttpServer(const Catalog &catalog, const HttpOptions &options)
    : state_(std::make_unique<State>(catalog, options)) {}

HttpServer::~HttpServer() {
    stop();
    if (state_->log) std::fclose(state_->log);
}

bool HttpServer::start(std::string *error) {
    State &s = *state_;
    if (!s.options.logPath.empty()) {
        s.log = std::fopen(s.options.logPath.c_str(), "a");
        if (!s.log) {
            *error = s.options.logPath + ": the access log cannot be opened for appending";
            return false;
        }
    }
    for (size_t i = 0; i < kWebFileCount; ++i)
        s.tags[kWebFiles[i].name] = entityTag(kWebFiles[i].data, kWebFiles[i].size);

    setLimits(s.server);
    setGuards(s.server);
    setRoutes(s.server, s.api, s.tags);
    httplib::Server &server = s.server;
    if (s.log) {
        server.set_logger([&s](const httplib::Request &req, const httplib::Response &res) {
            logLineTo(s.log, req.remote_addr + " \"" + logSafe(req.method) + " " + logSafe(req.target) + "\" " +
                                 std::to_string(res.status) + " " + std::to_string(res.body.size()));
        });
    }

    // The library's own options would let another program of the same user
    // bind the port too (SO_REUSEPORT); here only a port left in TIME_WAIT is
    // taken again.
    server.set_socket_options([&s](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&yes), sizeof yes);
        s.socket = sock;
    });
    int port = s.options.port;
    if (port == 0)
        port = server.bind_to_any_port(s.options.address);
    else if (!server.bind_to_port(s.options.address, port))
        port = -1;
    if (port <= 0) {
        *error = "cannot listen on " + s.options.address + ":" + std::to_string(s.options.port);
        return false;
    }
    // The library listens with a backlog of 5: connections past what the
    // workers and their queue hold would be dropped and retried by their
    // clients a second or more later, rather than wait in the kernel.
    if (s.socket != INVALID_SOCKET) ::listen(s.socket, kBacklog);
    bool v6 = s.options.address.find(':') != std::string::npos;
    std::printf("http listening on %s:%d\n", (v6 ? "[" + s.options.address + "]" : s.options.address).c_str(), port);
    std::fflush(stdout);
    thread_ = std::thread([&s] {
        s.server.listen_after_bind();
        s.listening.store(false);
    });
    return true;
}

void HttpServer::stop() {
    State &s = *state_;
    if (s.stopped.exchange(true)) return;
    __atomic_store_n(&s.cancel, 1, __ATOMIC_SEQ_CST);
    // The library's stop does nothing before its loop has started: ask
    // again until the listening thread is done.
    while (thread_.joinable() && s.listening.load()) {
        s.server.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (thread_.joinable()) thread_.join();
}

}  // namespace zavtool
