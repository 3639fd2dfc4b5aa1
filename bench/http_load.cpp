// Load on the web side of `zav serve`: CLIENTS threads, each a client with a
// keep-alive connection of its own (opened again whenever the server closes
// it), send requests one after another for SECONDS against each API call
// asked, and the program prints per call the requests, the throughput, the
// latency percentiles (from sending a request to its whole answer, the wait
// for a connection included) and the errors (no answer, or a status other
// than 200).
//
//   http_load [--clients N] [--seconds S] [--calls lookup,suggest] HOST:PORT WORDS
//
// WORDS is a file of words, one per line (UTF-8): look-ups ask a word,
// suggestions a word's first one to four characters, as a reader types.
// Exit 0 when every call was answered without an error, 1 otherwise, 2 on
// a usage or I/O error.
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    int clients = 100;
    int seconds = 10;
    std::vector<std::string> calls = {"lookup", "suggest"};
    std::string host;
    int port = 0;
    std::string words;
};

struct Tally {
    std::vector<double> ms;  // each answered request's latency
    uint64_t errors = 0;
};

// The first `chars` UTF-8 characters of `word`.
std::string prefixOf(const std::string &word, size_t chars) {
    size_t i = 0;
    for (size_t n = 0; i < word.size() && n < chars; ++n) do
            ++i;
        while (i < word.size() && (static_cast<unsigned char>(word[i]) & 0xC0) == 0x80);
    return word.substr(0, i);
}

void client(const Options &o, const std::string &call, const std::vector<std::string> &words, unsigned seed,
            Clock::time_point end, Tally *tally) {
    httplib::Client http(o.host, o.port);
    http.set_keep_alive(true);
    http.set_tcp_nodelay(true);
    http.set_connection_timeout(10, 0);
    http.set_read_timeout(10, 0);
    std::mt19937 random(seed);
    std::uniform_int_distribution<size_t> pick(0, words.size() - 1);
    std::uniform_int_distribution<size_t> typed(1, 4);
    while (Clock::now() < end) {
        const std::string &word = words[pick(random)];
        std::string q = call == "suggest" ? prefixOf(word, typed(random)) : word;
        std::string path = "/api/" + call + "?q=" + httplib::detail::encode_query_param(q);
        auto start = Clock::now();
        auto answer = http.Get(path);
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (!answer || answer->status != 200) {
            ++tally->errors;
            if (tally->errors <= 3)
                std::fprintf(stderr, "http_load: %s: %s\n", path.c_str(),
                             answer ? ("status " + std::to_string(answer->status)).c_str()
                                    : httplib::to_string(answer.error()).c_str());
        } else
            tally->ms.push_back(ms);
    }
}

double percentile(const std::vector<double> &sorted, double p) {
    if (sorted.empty()) return 0;
    size_t at = static_cast<size_t>(p / 100.0 * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
}

bool parse(int argc, char **argv, Options *o) {
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--clients" && more)
            o->clients = std::atoi(argv[++i]);
        else if (a == "--seconds" && more)
            o->seconds = std::atoi(argv[++i]);
        else if (a == "--calls" && more) {
            o->calls.clear();
            std::string list = argv[++i];
            for (size_t from = 0; from <= list.size();) {
                size_t comma = std::min(list.find(',', from), list.size());
                o->calls.push_back(list.substr(from, comma - from));
                from = comma + 1;
            }
        } else
            rest.push_back(a);
    }
    if (rest.size() != 2 || o->clients < 1 || o->seconds < 1) return false;
    for (const std::string &c : o->calls)
        if (c != "lookup" && c != "suggest") return false;
    size_t colon = rest[0].rfind(':');
    if (colon == std::string::npos) return false;
    o->host = rest[0].substr(0, colon);
    o->port = std::atoi(rest[0].c_str() + colon + 1);
    o->words = rest[1];
    return o->port > 0;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse(argc, argv, &o)) {
        std::fprintf(stderr, "usage: http_load [--clients N] [--seconds S] [--calls lookup,suggest] HOST:PORT WORDS\n");
        return 2;
    }
    std::vector<std::string> words;
    std::ifstream in(o.words);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) words.push_back(line);
    if (words.empty()) {
        std::fprintf(stderr, "http_load: %s: no words\n", o.words.c_str());
        return 2;
    }
    std::printf("%d clients, %d s per call, %zu words, server %s:%d\n", o.clients, o.seconds, words.size(),
                o.host.c_str(), o.port);
    std::printf("%-8s %9s %9s %8s %8s %8s %8s %7s\n", "call", "requests", "per s", "p50 ms", "p90 ms", "p99 ms",
                "max ms", "errors");
    uint64_t allErrors = 0;
    for (const std::string &call : o.calls) {
        std::vector<Tally> tallies(static_cast<size_t>(o.clients));
        std::vector<std::thread> threads;
        auto start = Clock::now(), end = start + std::chrono::seconds(o.seconds);
        for (int i = 0; i < o.clients; ++i)
            threads.emplace_back(client, std::cref(o), std::cref(call), std::cref(words), static_cast<unsigned>(i + 1),
                                 end, &tallies[static_cast<size_t>(i)]);
        for (auto &t : threads) t.join();
        double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        std::vector<double> ms;
        uint64_t errors = 0;
        for (const Tally &t : tallies) {
            ms.insert(ms.end(), t.ms.begin(), t.ms.end());
            errors += t.errors;
        }
        std::sort(ms.begin(), ms.end());
        std::printf("%-8s %9zu %9.0f %8.2f %8.2f %8.2f %8.2f %7llu\n", call.c_str(), ms.size() + errors,
                    static_cast<double>(ms.size()) / elapsed, percentile(ms, 50), percentile(ms, 90),
                    percentile(ms, 99), ms.empty() ? 0.0 : ms.back(), static_cast<unsigned long long>(errors));
        std::fflush(stdout);
        allErrors += errors;
    }
    return allErrors ? 1 : 0;
}
