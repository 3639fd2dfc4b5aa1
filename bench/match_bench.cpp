// Time per MATCH command: the reader library's strategies over the
// headwords of a dictd index, beside a dictd serving the same index.
//
//   match_bench INDEX [--dictd HOST:PORT DATABASE] [--zav HOST:PORT DATABASE] [--repeat N]
//               [STRATEGY PATTERN]...
//
// Each strategy and pattern (by default substring, re, soundex and suffix
// on a few German words) is timed N times (default 5) each way and the
// median is printed, with the number of headwords each gave. "library" is
// the strategy's run over the index in memory; dictd's and zav serve's
// figures are the time from sending the command on an open connection to
// the end of its answer, so those two compare like with like.
// bench/match_bench.sh starts both servers and runs this.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "dictd_headwords.h"
#include "match.h"
#include "text.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One DICT session: commands sent on an open connection, answers read to
// their status line.
class DictSession {
public:
    bool open(const std::string &hostPort) {
        size_t colon = hostPort.rfind(':');
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(std::atoi(hostPort.c_str() + colon + 1)));
        if (colon == std::string::npos || inet_pton(AF_INET, hostPort.substr(0, colon).c_str(), &address.sin_addr) != 1)
            return false;
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) return false;
        return readLine().rfind("220", 0) == 0;
    }
    ~DictSession() {
        if (fd_ >= 0) close(fd_);
    }
    // The headwords of a MATCH answer; -1 for an error status.
    long match(const std::string &database, const std::string &strategy, const std::string &pattern) {
        std::string quoted = "\"";
        for (char c : pattern) quoted += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
        std::string command = "MATCH " + database + " " + strategy + " " + quoted + "\"\r\n";
        if (write(fd_, command.data(), command.size()) != static_cast<ssize_t>(command.size())) return -1;
        long lines = 0;
        while (true) {
            std::string line = readLine();
            if (line.empty() || line[0] == '5' || line[0] == '4') return line.rfind("552", 0) == 0 ? 0 : -1;
            if (line.rfind("250", 0) == 0) return lines;
            if (line.rfind("152", 0) != 0 && line != ".") ++lines;
        }
    }

private:
    std::string readLine() {
        std::string line;
        while (true) {
            size_t end = buffer_.find("\r\n");
            if (end != std::string::npos) {
                line = buffer_.substr(0, end);
                buffer_.erase(0, end + 2);
                return line;
            }
            char chunk[65536];
            // Acknowledge at once: a delayed acknowledgement holds the
            // server's next small write back (Nagle) by about 40 ms.
            int one = 1;
            setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
            ssize_t n = read(fd_, chunk, sizeof chunk);
            if (n <= 0) return std::string();
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }
    int fd_ = -1;
    std::string buffer_;
};

struct Query {
    std::string strategy, pattern;
};

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: match_bench INDEX [--dictd HOST:PORT DATABASE] [--repeat N] [STRATEGY PATTERN]...\n");
        return 2;
    }
    std::string dictd, database, zav, zavDatabase;
    int repeat = 5;
    std::vector<Query> queries;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--dictd" && i + 2 < argc) {
            dictd = argv[++i];
            database = argv[++i];
        } else if (a == "--zav" && i + 2 < argc) {
            zav = argv[++i];
            zavDatabase = argv[++i];
        } else if (a == "--repeat" && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (i + 1 < argc) {
            queries.push_back({a, argv[++i]});
        } else {
            std::fprintf(stderr, "match_bench: %s: a strategy without a pattern\n", argv[i]);
            return 2;
        }
    }
    if (queries.empty())
        queries = {{"substring", "haus"}, {"substring", "ung"}, {"substring", "xyzzy"},
                   {"re", "^ver.*ung$"},  {"re", "[äöü]ß"},     {"soundex", "schmidt"},
                   {"soundex", "haus"},   {"suffix", "ung"},    {"suffix", "haus"}};
    zavreader::TableIndex index;
    auto start = Clock::now();
    if (!zavreader::loadDictdHeadwords(argv[1], &index)) {
        std::fprintf(stderr, "match_bench: %s: cannot be read\n", argv[1]);
        return 2;
    }
    std::printf("%s: %zu headwords, index built in %.0f ms, %.1f MB\n", argv[1], index.size(), msSince(start),
                static_cast<double>(index.bytes()) / 1e6);
    DictSession session, zavSession;
    bool withDictd = !dictd.empty(), withZav = !zav.empty();
    if (withDictd && !session.open(dictd)) {
        std::fprintf(stderr, "match_bench: no DICT server answers at %s\n", dictd.c_str());
        return 2;
    }
    if (withZav && !zavSession.open(zav)) {
        std::fprintf(stderr, "match_bench: no DICT server answers at %s\n", zav.c_str());
        return 2;
    }
    std::printf("%-10s %-14s %12s %10s %10s %9s %9s %9s\n", "strategy", "pattern", "library:hits", "library:ms",
                "dictd:hits", "dictd:ms", "zav:hits", "zav:ms");
    for (const Query &q : queries) {
        std::vector<double> ours, theirs, served;
        size_t hits = 0;
        long theirHits = -1, servedHits = -1;
        for (int r = 0; r < repeat; ++r) {
            start = Clock::now();
            zavreader::Matcher m;
            if (!m.prepare(q.strategy, q.pattern)) break;
            std::vector<zavreader::Hit> out;
            zavreader::Budget budget;
            m.run(index, budget, &out);
            ours.push_back(msSince(start));
            hits = out.size();
            if (withDictd) {
                start = Clock::now();
                theirHits = session.match(database, q.strategy, q.pattern);
                theirs.push_back(msSince(start));
            }
            if (withZav) {
                start = Clock::now();
                servedHits = zavSession.match(zavDatabase, q.strategy, q.pattern);
                served.push_back(msSince(start));
            }
        }
        std::printf("%-10s %-14s %12zu %10.2f", q.strategy.c_str(), q.pattern.c_str(), hits,
                    ours.empty() ? -1.0 : median(ours));
        std::printf(" %10ld %9.2f", theirHits, theirs.empty() ? -1.0 : median(theirs));
        std::printf(" %9ld %9.2f", servedHits, served.empty() ? -1.0 : median(served));
        std::printf("\n");
    }
    return 0;
}
