// The worker threads of `zav serve`: they answer command lines, each with its
// own Shelf (calls on one book handle must not overlap). Jobs wait in one
// queue per client address and the workers take them from each address in
// turn, so that many commands from one address do not hold up another's.
// Nothing here touches a socket: the I/O thread queues a job and gets it back
// through its `done` callback.
#ifndef ZAV_TOOL_SERVE_WORKERS_H
#define ZAV_TOOL_SERVE_WORKERS_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serve/budget.h"
#include "serve/protocol.h"

namespace zavtool {

// One command line on its way to a worker and back. The I/O thread sets
// `cancel` when the client has gone or the server stops; `budget` points at
// it, and its deadline is `time` from when a worker takes the job.
struct Job {
    std::string line;
    std::string address;         // the client's IP address, for taking turns
    std::string peer;            // for the log
    Session *session = nullptr;  // the connection's, untouched by the I/O thread while the job is out
    std::atomic<int> cancel{0};  // an int: the reader library reads it as one
    Budget budget;
    std::chrono::milliseconds time{0};
    Reply reply;
    std::function<void(const std::shared_ptr<Job> &)> done;  // called on the worker with the reply
};

class Workers {
public:
    // What a worker does with a job.
    using Task = std::function<void(Shelf &, const std::shared_ptr<Job> &)>;

    ~Workers() { stop(); }
    void start(size_t count, const Catalog &catalog, const Task &task) {
        for (size_t i = 0; i < count; ++i) {
            threads_.emplace_back([this, &catalog, task] {
                Shelf shelf(catalog);
                while (std::shared_ptr<Job> job = next()) task(shelf, job);
            });
        }
    }
    void push(std::shared_ptr<Job> job) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
            auto &queue = waiting_[job->address];
            if (queue.empty()) turns_.push_back(job->address);
            queue.push_back(std::move(job));
        }
        ready_.notify_one();
    }
    // Take no more jobs, drop those waiting and wait for those running (the
    // caller has cancelled their budgets, so they end soon).
    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            waiting_.clear();
            turns_.clear();
        }
        ready_.notify_all();
        for (std::thread &t : threads_) t.join();
        threads_.clear();
    }

private:
    std::shared_ptr<Job> next() {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return stopping_ || !turns_.empty(); });
        if (stopping_) return nullptr;
        std::string address = std::move(turns_.front());
        turns_.pop_front();
        auto queue = waiting_.find(address);
        std::shared_ptr<Job> job = std::move(queue->second.front());
        queue->second.pop_front();
        if (queue->second.empty()) {
            waiting_.erase(queue);
        } else {
            turns_.push_back(std::move(address));
        }
        return job;
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::map<std::string, std::deque<std::shared_ptr<Job>>> waiting_;  // by address
    std::deque<std::string> turns_;                                    // the addresses with jobs waiting, in turn
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace zavtool

#endif
