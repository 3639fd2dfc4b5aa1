#include "serve_net.h"

#include <unistd.h>

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "cli.h"
#include "serve_protocol.h"

namespace zavtool {

namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// The worker thread's own open books (see Shelf).
thread_local Shelf *tShelf = nullptr;

// The most of a command line that goes into the log.
constexpr size_t kLoggedCommandBytes = 160;

std::mutex gLogMutex;

void logLine(const std::string &text) {
    char stamp[32];
    std::time_t now = std::time(nullptr);
    struct tm utc;
    gmtime_r(&now, &utc);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::lock_guard<std::mutex> lock(gLogMutex);
    std::fprintf(stderr, "%s %s\n", stamp, text.c_str());
}

class Server;

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, Server &server);
    void start();
    void stop();

private:
    void readLine();
    void onRead(const asio::error_code &ec, size_t length);
    void send(std::string text, bool thenClose);
    void armTimer();
    void close(const char *why);

    Server &server_;
    tcp::socket socket_;
    asio::steady_timer timer_;
    asio::streambuf input_;
    std::string output_;
    Session session_;
    std::string peer_;
    bool closed_ = false;
    bool writing_ = false;
};

class Server {
public:
    Server(const Catalog &catalog, const ServerOptions &options)
        : catalog_(catalog), options_(options), acceptor_(asio::make_strand(io_)), signals_(io_, SIGINT, SIGTERM) {}

    bool listen(std::string *error);
    int run();

    asio::io_context &io() { return io_; }
    const ServerOptions &options() const { return options_; }
    ServerFacts facts() const {
        ServerFacts f;
        f.maxOutput = options_.maxOutput;
        f.host = host_;
        f.uptimeSeconds =
            static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started_).count());
        f.clients = clients_.load();
        f.commands = commands_.load();
        return f;
    }
    std::string nextMessageId() { return std::to_string(::getpid()) + "." + std::to_string(++sessions_); }
    void countCommand() { ++commands_; }
    void forget(const std::shared_ptr<Connection> &c) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (live_.erase(c)) --clients_;
    }

private:
    void accept();
    void onAccept(const asio::error_code &ec, tcp::socket socket);
    void shutDown();

    const Catalog &catalog_;
    ServerOptions options_;
    asio::io_context io_;
    tcp::acceptor acceptor_;
    asio::signal_set signals_;
    std::string host_ = "localhost";
    Clock::time_point started_ = Clock::now();
    std::atomic<uint64_t> clients_{0}, commands_{0}, sessions_{0};
    std::mutex mutex_;
    std::set<std::shared_ptr<Connection>> live_;
    bool stopping_ = false;
};

Connection::Connection(tcp::socket socket, Server &server)
    : server_(server), socket_(std::move(socket)), timer_(socket_.get_executor()), input_(kMaxLineBytes) {
    asio::error_code ec;
    auto remote = socket_.remote_endpoint(ec);
    peer_ = ec ? "?" : remote.address().to_string() + ":" + std::to_string(remote.port());
}

void Connection::start() {
    asio::post(socket_.get_executor(), [self = shared_from_this()] {
        self->send(banner(self->server_.facts(), self->server_.nextMessageId()), false);
    });
}

void Connection::stop() {
    asio::post(socket_.get_executor(), [self = shared_from_this()] {
        if (!self->closed_) {
            // One try, never waiting on a client that does not read, and never
            // in the middle of an answer.
            static const char kBye[] = "421 server shutting down\r\n";
            asio::error_code ignored;
            if (!self->writing_) {
                self->socket_.non_blocking(true, ignored);
                self->socket_.write_some(asio::buffer(kBye, sizeof kBye - 1), ignored);
            }
            self->close("server shutting down");
        }
    });
}

void Connection::armTimer() {
    timer_.expires_after(std::chrono::seconds(server_.options().idleSeconds));
    timer_.async_wait([self = shared_from_this()](const asio::error_code &ec) {
        if (ec == asio::error::operation_aborted || self->closed_) return;
        if (self->timer_.expiry() <= asio::steady_timer::clock_type::now()) self->close("idle timeout");
    });
}

void Connection::readLine() {
    armTimer();
    asio::async_read_until(
        socket_, input_, '\n',
        [self = shared_from_this()](const asio::error_code &ec, size_t length) { self->onRead(ec, length); });
}

void Connection::onRead(const asio::error_code &ec, size_t length) {
    if (closed_) return;
    if (ec == asio::error::not_found) {
        send("500 line too long (more than " + std::to_string(kMaxLineBytes) + " bytes)\r\n", true);
        logLine(peer_ + " line too long: closed");
        return;
    }
    if (ec) {
        close(ec == asio::error::eof ? "client closed" : "read error");
        return;
    }
    std::string line(asio::buffers_begin(input_.data()), asio::buffers_begin(input_.data()) + length);
    input_.consume(length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    auto began = Clock::now();
    Reply reply = answer(line, session_, *tShelf, server_.facts());
    server_.countCommand();
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
    char timing[48];
    std::snprintf(timing, sizeof timing, "%.2f ms", ms);
    logLine(peer_ + " \"" + escapeText(line.substr(0, kLoggedCommandBytes)) + "\" " + std::to_string(reply.status) +
            " " + std::to_string(reply.text.size()) + " bytes " + timing);
    send(std::move(reply.text), reply.close);
}

void Connection::send(std::string text, bool thenClose) {
    if (closed_) return;  // stopped before its greeting went out
    output_ = std::move(text);
    writing_ = true;
    armTimer();
    asio::async_write(socket_, asio::buffer(output_),
                      [self = shared_from_this(), thenClose](const asio::error_code &ec, size_t) {
                          self->writing_ = false;
                          if (self->closed_) return;
                          if (ec) {
                              self->close("write error");
                          } else if (thenClose) {
                              self->close("closed");
                          } else {
                              self->readLine();
                          }
                      });
}

void Connection::close(const char *why) {
    if (closed_) return;
    closed_ = true;
    asio::error_code ignored;
    timer_.cancel();
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    if (std::string(why) != "closed" && std::string(why) != "client closed") logLine(peer_ + " " + why);
    server_.forget(shared_from_this());
}

bool Server::listen(std::string *error) {
    asio::error_code ec;
    auto address = asio::ip::make_address(options_.address, ec);
    if (ec) {
        *error = "'" + options_.address + "' is not an IP address";
        return false;
    }
    tcp::endpoint endpoint(address, options_.port);
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        *error = "cannot listen on " + options_.address + ":" + std::to_string(options_.port) + ": " + ec.message();
        return false;
    }
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0 && name[0]) host_ = name;
    auto bound = acceptor_.local_endpoint();
    std::string shown = bound.address().is_v6() ? "[" + bound.address().to_string() + "]" : bound.address().to_string();
    std::printf("listening on %s:%u\n", shown.c_str(), static_cast<unsigned>(bound.port()));
    std::fflush(stdout);
    return true;
}

void Server::accept() {
    acceptor_.async_accept(asio::make_strand(io_),
                           [this](const asio::error_code &ec, tcp::socket socket) { onAccept(ec, std::move(socket)); });
}

void Server::onAccept(const asio::error_code &ec, tcp::socket socket) {
    if (ec) {
        if (acceptor_.is_open()) accept();  // a client that went away while being accepted
        return;
    }
    bool admitted = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        // Only this strand adds connections, so room seen here stays free.
        admitted = live_.size() < options_.maxClients;
    }
    if (!admitted) {
        static const char kBusy[] = "420 server temporarily unavailable: too many clients\r\n";
        asio::error_code ignored;
        socket.non_blocking(true, ignored);
        socket.write_some(asio::buffer(kBusy, sizeof kBusy - 1), ignored);
        socket.close(ignored);
        logLine("refused a client: " + std::to_string(options_.maxClients) + " clients already connected");
        accept();
        return;
    }
    auto connection = std::make_shared<Connection>(std::move(socket), *this);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        live_.insert(connection);
        ++clients_;
    }
    connection->start();
    accept();
}

void Server::shutDown() {
    logLine("stopping");
    asio::error_code ignored;
    acceptor_.close(ignored);
    std::set<std::shared_ptr<Connection>> open;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        open = live_;
    }
    for (const auto &c : open) c->stop();
}

int Server::run() {
    // The acceptor is used on its own strand only: accepting, and closing it.
    signals_.async_wait([this](const asio::error_code &ec, int) {
        if (!ec) asio::post(acceptor_.get_executor(), [this] { shutDown(); });
    });
    accept();
    std::vector<std::thread> workers;
    for (size_t i = 0; i < options_.threads; ++i) {
        workers.emplace_back([this] {
            Shelf shelf(catalog_);
            tShelf = &shelf;
            io_.run();
            tShelf = nullptr;
        });
    }
    for (std::thread &t : workers) t.join();
    logLine("stopped after " + std::to_string(commands_.load()) + " commands");
    return EXIT_OK;
}

}  // namespace

int runServer(const Catalog &catalog, const ServerOptions &options) {
    std::signal(SIGPIPE, SIG_IGN);
    Server server(catalog, options);
    std::string error;
    if (!server.listen(&error)) {
        complain("serve", error);
        return EXIT_USAGE;
    }
    return server.run();
}

}  // namespace zavtool
