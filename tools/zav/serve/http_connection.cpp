#include "serve/http_connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace zavtool {

namespace {

using Clock = std::chrono::steady_clock;
// Waits are cut into slices this long, so that a stopping server is noticed.
constexpr std::chrono::milliseconds kSlice{100};

// Waits until the socket can be read (POLLIN) or written (POLLOUT), up to
// `until`; false at the deadline, on an error or once the server stops.
bool ready(socket_t sock, short events, Clock::time_point until, const std::atomic<socket_t> &listening) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0 || listening == INVALID_SOCKET) return false;
        pollfd p{sock, events, 0};
        int n = ::poll(&p, 1, static_cast<int>(std::min(left, kSlice).count()));
        if (n > 0) return (p.revents & (events | POLLHUP | POLLERR)) != 0;
        if (n < 0 && errno != EINTR) return false;
    }
}

void addressOf(socket_t sock, bool peer, std::string &ip, int &port) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    int got = peer ? ::getpeername(sock, reinterpret_cast<sockaddr *>(&address), &length)
                   : ::getsockname(sock, reinterpret_cast<sockaddr *>(&address), &length);
    char text[INET6_ADDRSTRLEN] = "";
    port = 0;
    if (got == 0 && address.ss_family == AF_INET) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(&address);
        ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        port = ntohs(in->sin_port);
    } else if (got == 0 && address.ss_family == AF_INET6) {
        const auto *in = reinterpret_cast<const sockaddr_in6 *>(&address);
        ::inet_ntop(AF_INET6, &in->sin6_addr, text, sizeof text);
        port = ntohs(in->sin6_port);
    }
    ip = text;
}

// One request and its answer on a connection: reads end at the request's
// deadline, writes at the answer's, which starts with its first write.
class DeadlineStream : public httplib::Stream {
public:
    DeadlineStream(socket_t sock, const ConnectionLimits &limits, const std::atomic<socket_t> &listening)
        : sock_(sock), limits_(limits), listening_(listening), readBy_(Clock::now() + limits.request) {}

    bool is_readable() const override { return at_ < end_ || ready(sock_, POLLIN, readBy_, listening_); }
    bool is_writable() const override { return ready(sock_, POLLOUT, writeBy(), listening_); }

    ssize_t read(char *ptr, size_t size) override {
        if (at_ == end_) {
            ssize_t n = receive();
            if (n <= 0) return n;
            at_ = 0;
            end_ = static_cast<size_t>(n);
        }
        size_t n = std::min(size, end_ - at_);
        std::memcpy(ptr, buffer_ + at_, n);
        at_ += n;
        return static_cast<ssize_t>(n);
    }

    // What can be sent now, without blocking; -1 at the deadline.
    ssize_t write(const char *ptr, size_t size) override {
        for (;;) {
            if (!ready(sock_, POLLOUT, writeBy(), listening_)) return -1;
            ssize_t n = ::send(sock_, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n >= 0 || !retry()) return n;
        }
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override { addressOf(sock_, true, ip, port); }
    void get_local_ip_and_port(std::string &ip, int &port) const override { addressOf(sock_, false, ip, port); }
    socket_t socket() const override { return sock_; }
    // Whether a read ran out of time: the connection is closed after the
    // answer (the library answers such a request 400 and would wait for the
    // next one).
    bool failed() const { return failed_; }

private:
    static bool retry() { return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK; }

    ssize_t receive() {
        for (;;) {
            if (!ready(sock_, POLLIN, readBy_, listening_)) {
                failed_ = true;
                return -1;
            }
            ssize_t n = ::recv(sock_, buffer_, sizeof buffer_, MSG_DONTWAIT);
            if (n >= 0 || !retry()) return n;
        }
    }

    Clock::time_point writeBy() const {
        if (!writing_) {
            writing_ = true;
            writeBy_ = Clock::now() + limits_.answer;
        }
        return writeBy_;
    }

    socket_t sock_;
    const ConnectionLimits &limits_;
    const std::atomic<socket_t> &listening_;
    Clock::time_point readBy_;
    mutable Clock::time_point writeBy_{};
    mutable bool writing_ = false;
    char buffer_[4096];
    size_t at_ = 0, end_ = 0;
    bool failed_ = false;
};

void closeSocket(socket_t sock) {
    ::shutdown(sock, SHUT_RDWR);
    httplib::detail::close_socket(sock);
}

}  // namespace

// The workers, the queue of connections whose request has begun to arrive,
// and the watcher of parked connections (the library makes one when it
// starts to listen, and shuts it down and deletes it when it stops).
class RequestPool : public httplib::TaskQueue {
public:
    RequestPool(GuardedServer &server, const ConnectionLimits &limits)
        : server_(server), limits_(limits), watch_(::epoll_create1(EPOLL_CLOEXEC)) {
        for (size_t i = 0; i < limits.workers; ++i) workers_.emplace_back([this] { work(); });
        if (watch_ >= 0) watcher_ = std::thread([this] { watch(); });
    }
    ~RequestPool() override {
        shutdown();
        if (watch_ >= 0) ::close(watch_);
    }

    // A connection just accepted: when the queue is full, the accepting
    // thread waits, and further clients wait in the kernel's backlog.
    void enqueue(std::function<void()> fn) override {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [this] { return fresh_ < limits_.queued || stopping_; });
        queue_.push_back({std::move(fn), true});  // after a stop too: the task closes its socket
        ++fresh_;
        ready_.notify_one();
    }

    // A connection waiting for its next request; closed when the pool is
    // full, stopping or cannot watch it.
    void park(socket_t sock, size_t served) {
        std::lock_guard<std::mutex> lock(mutex_);
        epoll_event e{};
        e.events = EPOLLIN | EPOLLRDHUP;
        e.data.fd = sock;
        if (stopping_ || parked_.size() >= limits_.parked || ::epoll_ctl(watch_, EPOLL_CTL_ADD, sock, &e) != 0) {
            closeSocket(sock);
            return;
        }
        parked_[sock] = {served, Clock::now() + limits_.idle};
    }

    bool stopping() {
        std::lock_guard<std::mutex> lock(mutex_);
        return stopping_;
    }

    void shutdown() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_ && workers_.empty()) return;
            stopping_ = true;
        }
        ready_.notify_all();
        room_.notify_all();
        if (watcher_.joinable()) watcher_.join();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto &p : parked_) closeSocket(p.first);
            parked_.clear();
        }
        for (auto &w : workers_) w.join();
        workers_.clear();
    }

private:
    struct Task {
        std::function<void()> run;
        bool fresh = false;  // a connection just accepted
    };
    struct Parked {
        size_t served;
        Clock::time_point until;
    };

    void work() {
        for (;;) {
            Task task;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [this] { return !queue_.empty() || stopping_; });
                if (queue_.empty()) return;
                task = std::move(queue_.front());
                queue_.pop_front();
                if (task.fresh) --fresh_;
            }
            if (task.fresh) room_.notify_one();
            task.run();
        }
    }

    // Hands each parked connection whose next request begins (or that the
    // client closed) back to the workers, and closes those idle too long.
    void watch() {
        epoll_event events[64];
        auto swept = Clock::now();
        for (;;) {
            int n = ::epoll_wait(watch_, events, 64, static_cast<int>(kSlice.count()));
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
            for (int i = 0; i < n; ++i) {
                socket_t sock = events[i].data.fd;
                auto it = parked_.find(sock);
                if (it == parked_.end()) continue;
                size_t served = it->second.served;
                parked_.erase(it);
                ::epoll_ctl(watch_, EPOLL_CTL_DEL, sock, nullptr);
                // Not bounded by the queue's room: a parked connection was
                // accepted already, and the watcher must not wait.
                queue_.push_back({[this, sock, served] { server_.turn(sock, served); }, false});
                ready_.notify_one();
            }
            auto now = Clock::now();
            if (now - swept < kSlice) continue;
            swept = now;
            for (auto it = parked_.begin(); it != parked_.end();) {
                if (it->second.until > now) {
                    ++it;
                    continue;
                }
                ::epoll_ctl(watch_, EPOLL_CTL_DEL, it->first, nullptr);
                closeSocket(it->first);
                it = parked_.erase(it);
            }
        }
    }

    GuardedServer &server_;
    ConnectionLimits limits_;
    int watch_;
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    std::deque<Task> queue_;
    size_t fresh_ = 0;  // connections just accepted in queue_: the accepting thread waits for room among them
    std::unordered_map<socket_t, Parked> parked_;
    std::vector<std::thread> workers_;
    std::thread watcher_;
    bool stopping_ = false;
};

GuardedServer::GuardedServer(const ConnectionLimits &limits) : limits_(limits) {
    // Parked connections keep at most half the descriptors this process may open.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY)
        limits_.parked = std::min<size_t>(limits_.parked, files.rlim_cur / 2);
    // What the answers' Keep-Alive header tells clients.
    set_keep_alive_max_count(limits_.requests);
    set_keep_alive_timeout(std::chrono::duration_cast<std::chrono::seconds>(limits_.idle).count());
    new_task_queue = [this] {
        auto *pool = new RequestPool(*this, limits_);
        pool_ = pool;
        return pool;
    };
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
    turn(sock, 0);
    return true;
}

void GuardedServer::turn(socket_t sock, size_t served) {
    RequestPool *pool = pool_;
    // A connection whose request has not begun waits parked, not here.
    pollfd p{sock, POLLIN, 0};
    if (::poll(&p, 1, 0) == 0 && served < limits_.requests && !pool->stopping()) {
        pool->park(sock, served);
        return;
    }
    if (served >= limits_.requests || pool->stopping() || !(p.revents & POLLIN)) {
        closeSocket(sock);
        return;
    }
    DeadlineStream stream(sock, limits_, svr_sock_);
    bool closed = false;
    bool ok = process_request(stream, served + 1 >= limits_.requests, closed, nullptr);
    if (!ok || closed || stream.failed())
        closeSocket(sock);
    else
        pool->park(sock, served + 1);
}

}  // namespace zavtool
