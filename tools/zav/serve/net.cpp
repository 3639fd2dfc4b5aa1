#include "serve/net.h"

#include <unistd.h>

#include <algorithm>
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "core/cli.h"
#include "serve/log.h"
#include "serve/protocol.h"
#include "serve/workers.h"

namespace zavtool {

namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// The most of a command line that goes into the log.
constexpr size_t kLoggedCommandBytes = 160;
// Past three quarters of the slots taken, idle clients get this long only.
constexpr auto kCrowdedIdle = std::chrono::seconds(3);
// How often idle clients are looked for.
constexpr auto kSweepInterval = std::chrono::milliseconds(250);
// After a client closes its side, each of its commands gets this long.
constexpr auto kGoneGrace = std::chrono::milliseconds(500);
// A failed accept (out of descriptors, say) is tried again after this.
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);

const std::string kTooMany = std::to_string(kUnavailable) + " server temporarily unavailable: too many clients\r\n";
const std::string kTooManyHere =
    std::to_string(kUnavailable) + " server temporarily unavailable: too many clients from your address\r\n";
const std::string kBye = std::to_string(kShuttingDown) + " server shutting down\r\n";

class Server;

// One client, used on the I/O thread only. It reads all the time, also while
// a command is out at a worker, so that it sees the client go; it buffers at
// most one line (kMaxLineBytes) and stops reading when that is full.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, Server &server, std::string address);
    void start();
    void stop();
    void close(const char *why);
    bool idleFor(Clock::duration limit, Clock::time_point now) const {
        return !closed_ && !job_ && now - lastActivity_ >= limit;
    }
    const std::string &address() const { return address_; }

private:
    void readMore();
    void onRead(const asio::error_code &ec, size_t length);
    void nextCommand();
    void submit(std::string line);
    void finish(const std::shared_ptr<Job> &job);
    void send(std::string text, bool thenClose);
    void sendNow(const char *text, size_t length);
    void clientClosed();

    Server &server_;
    tcp::socket socket_;
    asio::steady_timer grace_;
    std::string address_, peer_;
    std::string pending_;  // bytes read, not yet answered
    char chunk_[kMaxLineBytes];
    std::string output_;
    Session session_;
    std::shared_ptr<Job> job_;  // the command out at a worker
    Clock::time_point lastActivity_ = Clock::now();
    bool reading_ = false, writing_ = false, eof_ = false, closed_ = false;
};

class Server {
public:
    Server(const Catalog &catalog, const ServerOptions &options)
        : catalog_(catalog),
          options_(options),
          io_(1),
          acceptor_(io_),
          signals_(io_, SIGINT, SIGTERM),
          sweeper_(io_),
          acceptRetry_(io_) {}

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
    void submit(std::shared_ptr<Job> job) { workers_.push(std::move(job)); }
    void forget(const std::shared_ptr<Connection> &c);

private:
    void accept();
    void onAccept(const asio::error_code &ec, tcp::socket socket);
    const char *refusal(const std::string &address) const;
    void sweep();
    void shutDown();
    void answerJob(Shelf &shelf, const std::shared_ptr<Job> &job);

    const Catalog &catalog_;
    ServerOptions options_;
    asio::io_context io_;
    tcp::acceptor acceptor_;
    asio::signal_set signals_;
    asio::steady_timer sweeper_, acceptRetry_;
    Workers workers_;
    std::string host_ = "localhost";
    Clock::time_point started_ = Clock::now();
    std::atomic<uint64_t> clients_{0}, commands_{0}, sessions_{0};
    // The I/O thread's own.
    std::set<std::shared_ptr<Connection>> live_;
    std::map<std::string, size_t> perAddress_;
    bool stopping_ = false;
};

Connection::Connection(tcp::socket socket, Server &server, std::string address)
    : server_(server), socket_(std::move(socket)), grace_(server.io()), address_(std::move(address)) {
    asio::error_code ec;
    auto remote = socket_.remote_endpoint(ec);
    peer_ = ec ? "?" : remote.address().to_string() + ":" + std::to_string(remote.port());
}

void Connection::start() { send(banner(server_.facts(), server_.nextMessageId()), false); }

void Connection::stop() {
    if (closed_) return;
    // One try, never waiting on a client that does not read, and never in the
    // middle of an answer.
    if (!writing_) sendNow(kBye.data(), kBye.size());
    close("server shutting down");
}

void Connection::sendNow(const char *text, size_t length) {
    asio::error_code ignored;
    socket_.non_blocking(true, ignored);
    socket_.write_some(asio::buffer(text, length), ignored);
}

void Connection::readMore() {
    if (reading_ || closed_ || eof_ || pending_.size() >= kMaxLineBytes) return;
    reading_ = true;
    socket_.async_read_some(
        asio::buffer(chunk_, kMaxLineBytes - pending_.size()),
        [self = shared_from_this()](const asio::error_code &ec, size_t length) { self->onRead(ec, length); });
}

void Connection::onRead(const asio::error_code &ec, size_t length) {
    reading_ = false;
    if (closed_) return;
    if (ec == asio::error::eof) {
        clientClosed();
    } else if (ec) {
        close("read error");
        return;
    } else {
        pending_.append(chunk_, length);
        lastActivity_ = Clock::now();
    }
    if (!job_ && !writing_) {
        nextCommand();
    } else {
        readMore();  // keep watching the client while its command runs
    }
}

// The client closed its side. A half-closed client still reads its answers,
// so its commands go on, each with kGoneGrace at most; one that has gone
// makes the next write fail. The command out now is cancelled, and the
// connection closed, if it is still out after kGoneGrace.
void Connection::clientClosed() {
    eof_ = true;
    if (!job_) return;
    grace_.expires_after(kGoneGrace);
    grace_.async_wait([self = shared_from_this(), job = job_](const asio::error_code &ec) {
        if (ec || self->closed_ || self->job_ != job) return;
        self->close("client gone: its command was cancelled");
    });
}

void Connection::nextCommand() {
    size_t end = pending_.find('\n');
    if (end != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        while (!line.empty() && line.back() == '\r') line.pop_back();
        submit(std::move(line));
    } else if (pending_.size() >= kMaxLineBytes) {
        send(std::to_string(kUnknownCommand) + " line too long (more than " + std::to_string(kMaxLineBytes) +
                 " bytes)\r\n",
             true);
        logLine(peer_ + " line too long: closed");
    } else if (eof_) {
        close("client closed");
    } else {
        readMore();
    }
}

void Connection::submit(std::string line) {
    auto job = std::make_shared<Job>();
    job->line = std::move(line);
    job->address = address_;
    job->peer = peer_;
    job->session = &session_;
    job->time = std::chrono::seconds(server_.options().commandSeconds);
    if (eof_) job->time = std::min<std::chrono::milliseconds>(job->time, kGoneGrace);
    job->budget.cancelled = &job->cancel;
    job->done = [self = shared_from_this()](const std::shared_ptr<Job> &done) {
        asio::post(self->server_.io(), [self, done] { self->finish(done); });
    };
    job_ = job;
    server_.submit(std::move(job));
    readMore();
}

void Connection::finish(const std::shared_ptr<Job> &job) {
    if (closed_ || job != job_) return;
    job_.reset();
    send(std::move(job->reply.text), job->reply.close);
}

void Connection::send(std::string text, bool thenClose) {
    if (closed_) return;
    output_ = std::move(text);
    writing_ = true;
    lastActivity_ = Clock::now();
    asio::async_write(socket_, asio::buffer(output_),
                      [self = shared_from_this(), thenClose](const asio::error_code &ec, size_t) {
                          self->writing_ = false;
                          self->lastActivity_ = Clock::now();
                          if (self->closed_) return;
                          if (ec) {
                              self->close("write error");
                          } else if (thenClose) {
                              self->close("closed");
                          } else {
                              self->nextCommand();
                          }
                      });
}

void Connection::close(const char *why) {
    if (closed_) return;
    closed_ = true;
    if (job_) job_->cancel = 1;
    job_.reset();
    asio::error_code ignored;
    grace_.cancel();
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
    acceptor_.async_accept([this](const asio::error_code &ec, tcp::socket socket) { onAccept(ec, std::move(socket)); });
}

// Why a client from `address` cannot be taken now, or null.
const char *Server::refusal(const std::string &address) const {
    if (live_.size() >= options_.maxClients) return kTooMany.c_str();
    auto here = perAddress_.find(address);
    if (here != perAddress_.end() && here->second >= options_.maxPerAddress) return kTooManyHere.c_str();
    return nullptr;
}

void Server::onAccept(const asio::error_code &ec, tcp::socket socket) {
    if (stopping_ || ec == asio::error::operation_aborted) return;
    if (ec) {  // a client that went away while being accepted, or no descriptor left
        acceptRetry_.expires_after(kAcceptRetry);
        acceptRetry_.async_wait([this](const asio::error_code &e) {
            if (!e && !stopping_) accept();
        });
        return;
    }
    asio::error_code ignored, gone;
    auto remote = socket.remote_endpoint(gone);
    if (gone) {  // left before it could be greeted
        socket.close(ignored);
        accept();
        return;
    }
    std::string address = remote.address().to_string();
    if (const char *why = refusal(address)) {
        socket.non_blocking(true, ignored);
        socket.write_some(asio::buffer(why, std::strlen(why)), ignored);
        socket.close(ignored);
        logLine("refused " + address + ": " + std::string(why + 4, std::strlen(why) - 6));
        accept();
        return;
    }
    auto connection = std::make_shared<Connection>(std::move(socket), *this, address);
    live_.insert(connection);
    ++perAddress_[address];
    ++clients_;
    connection->start();
    accept();
}

void Server::forget(const std::shared_ptr<Connection> &c) {
    if (!live_.erase(c)) return;
    --clients_;
    auto here = perAddress_.find(c->address());
    if (here != perAddress_.end() && --here->second == 0) perAddress_.erase(here);
}

// Close the clients idle too long: idleSeconds, or kCrowdedIdle once more
// than three quarters of the slots are taken.
void Server::sweep() {
    Clock::duration limit = std::chrono::seconds(options_.idleSeconds);
    if (live_.size() * 4 > options_.maxClients * 3) limit = std::min(limit, Clock::duration(kCrowdedIdle));
    auto now = Clock::now();
    std::vector<std::shared_ptr<Connection>> idle;
    for (const auto &c : live_)
        if (c->idleFor(limit, now)) idle.push_back(c);
    for (const auto &c : idle) c->close("idle timeout");
    sweeper_.expires_after(kSweepInterval);
    sweeper_.async_wait([this](const asio::error_code &ec) {
        if (!ec && !stopping_) sweep();
    });
}

void Server::shutDown() {
    logLine("stopping");
    stopping_ = true;
    asio::error_code ignored;
    acceptor_.close(ignored);
    sweeper_.cancel();
    acceptRetry_.cancel();
    std::vector<std::shared_ptr<Connection>> open(live_.begin(), live_.end());
    for (const auto &c : open) c->stop();  // cancels their commands
    io_.stop();
}

// On a worker: answer the job's line within its budget, log it and hand it
// back.
void Server::answerJob(Shelf &shelf, const std::shared_ptr<Job> &job) {
    auto began = Clock::now();
    job->budget.deadline = began + job->time;
    if (!job->cancel) job->reply = answer(job->line, *job->session, shelf, facts(), job->budget);
    ++commands_;
    double ms = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
    char timing[48];
    std::snprintf(timing, sizeof timing, "%.2f ms", ms);
    std::string outcome =
        job->cancel ? std::string("cancelled")
                    : std::to_string(job->reply.status) + " " + std::to_string(job->reply.text.size()) + " bytes";
    logLine(job->peer + " \"" + logSafe(job->line.substr(0, kLoggedCommandBytes)) + "\" " + outcome + " " + timing);
    job->done(job);
}

int Server::run() {
    signals_.async_wait([this](const asio::error_code &ec, int) {
        if (!ec) shutDown();
    });
    workers_.start(options_.threads, catalog_,
                   [this](Shelf &shelf, const std::shared_ptr<Job> &job) { answerJob(shelf, job); });
    accept();
    sweep();
    io_.run();  // this thread does all the network work, until a signal
    workers_.stop();
    // Answers that came back after the stop go to closed connections: let
    // them go, so that nothing is left holding a socket.
    io_.restart();
    io_.poll();
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
