// The answers of `zav serve`: definitions and matches from the reader
// library, cut to the byte budget of one reply.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <unordered_set>

#include "core/cli.h"
#include "core/reader_shelf.h"
#include "serve/books.h"
#include "serve/log.h"

namespace zavtool {

namespace {

// A match line holds the database name, the word and at least a space, two
// quotes and CRLF.
constexpr size_t kMinMatchLineBytes = 5;
// A definition's 151 line and line ends, counted against the answer's budget
// before the protocol counts them exactly.
constexpr size_t kDefinitionLineBytes = 64;

static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free,
              "the reader library reads a cancel flag as an int, atomically");

// The reader library's limits of a command: its bytes, the time left and its
// cancel flag.
ZAVReaderLimits limitsOf(size_t bytes, const Budget &budget) {
    ZAVReaderLimits limits{};
    limits.size = sizeof limits;
    limits.max_bytes = bytes;
    if (budget.deadline != Budget::Clock::time_point::max()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(budget.deadline - Budget::Clock::now());
        limits.time_ms = static_cast<uint32_t>(std::clamp<int64_t>(left.count(), 1, UINT32_MAX));
    }
    if (budget.cancelled) limits.cancel = reinterpret_cast<const volatile int *>(budget.cancelled);
    return limits;
}

bool overBudget(int32_t status) { return status == ZAVR_TIME_OUT || status == ZAVR_CANCELLED; }

}  // namespace

Definitions Shelf::define(size_t db, const std::string &word, size_t budget, const Budget &command) {
    Definitions out;
    if (db >= catalog_.databases.size()) return out;
    out.exhausted = command.exhausted();
    if (out.exhausted) return out;
    ZAVReaderLimits limits = limitsOf(budget, command);
    ReaderResult found(ZAVReaderLookup(catalog_.shelf, catalog_.databases[db].name.c_str(), word.c_str(), 0, &limits));
    size_t used = 0;
    for (size_t i = 0; i < ZAVReaderResultCount(found.get()); ++i) {
        const ZAVReaderAnswer *a = ZAVReaderResultAt(found.get(), i);
        if (!a->text) continue;  // unreadable: nothing to define with
        Definition d{a->headword, escapeContent(std::string(a->text, a->text_length))};
        used += d.headword.size() + d.text.size() + kDefinitionLineBytes;
        if (used > budget) {
            out.cut = true;
            return out;
        }
        out.items.push_back(std::move(d));
    }
    out.cut = ZAVReaderResultStatus(found.get()) == ZAVR_LIMIT;
    out.exhausted = overBudget(ZAVReaderResultStatus(found.get()));
    return out;
}

bool Shelf::match(size_t db, const std::string &strategy, const std::string &word, size_t budget, const Budget &command,
                  Matches *out, std::string *error) {
    if (db >= catalog_.databases.size()) return true;
    out->exhausted = command.exhausted();
    if (out->exhausted) return true;
    if (strategy == kTextStrategy) return search(db, word, budget, command, out, error);
    const std::string &name = catalog_.databases[db].name;
    ZAVReaderLimits limits = limitsOf(0, command);
    limits.max_answers = static_cast<uint32_t>(budget / (name.size() + kMinMatchLineBytes) + 1);
    ReaderResult found(ZAVReaderMatch(catalog_.shelf, name.c_str(), strategy.c_str(), word.c_str(), &limits));
    int32_t status = ZAVReaderResultStatus(found.get());
    if (status == ZAVR_BAD_PATTERN || status == ZAVR_BAD_ARGUMENT) {
        *error = reasonOf(found.get());
        return false;
    }
    size_t used = 0;
    for (size_t i = 0; i < ZAVReaderResultCount(found.get()); ++i) {
        const char *headword = ZAVReaderResultAt(found.get(), i)->headword;
        used += std::char_traits<char>::length(headword) + name.size() + kMinMatchLineBytes;
        if (used > budget) {
            out->cut = true;
            return true;
        }
        out->words.push_back(headword);
    }
    out->cut = status == ZAVR_LIMIT;
    out->exhausted = overBudget(status);
    return true;
}

bool Shelf::search(size_t db, const std::string &query, size_t budget, const Budget &command, Matches *out,
                   std::string *error) {
    const std::string &name = catalog_.databases[db].name;
    ZAVReaderLimits limits = limitsOf(0, command);
    ReaderResult found(ZAVReaderSearch(catalog_.shelf, name.c_str(), query.c_str(), kMostTextHits, &limits));
    int32_t status = ZAVReaderResultStatus(found.get());
    if (status == ZAVR_BAD_PATTERN || status == ZAVR_BAD_ARGUMENT) {
        *error = reasonOf(found.get());
        return false;
    }
    size_t count = ZAVReaderResultCount(found.get());
    if (count == 0 && (status == ZAVR_NOT_FOUND || status == ZAVR_UNREADABLE)) {
        std::string why = reasonOf(found.get());
        if (catalog_.newReason(db, why)) logLine("database " + name + " cannot be searched by text: " + logSafe(why));
    }
    // Hits are entries: a headword with several hit entries is listed once,
    // where its best one stands.
    std::unordered_set<std::string> listed;
    size_t used = 0;
    for (size_t i = 0; i < count; ++i) {
        std::string headword = ZAVReaderResultAt(found.get(), i)->headword;
        if (!listed.insert(headword).second) continue;
        used += headword.size() + name.size() + kMinMatchLineBytes;
        if (used > budget) {
            out->cut = true;
            return true;
        }
        out->words.push_back(std::move(headword));
    }
    out->cut = status == ZAVR_LIMIT;
    out->exhausted = overBudget(status);
    return true;
}

bool Catalog::newReason(size_t db, const std::string &reason) const {
    std::lock_guard<std::mutex> lock(reasonsLock_);
    if (reasons_.size() <= db) reasons_.resize(db + 1);
    if (reasons_[db] == reason) return false;
    reasons_[db] = reason;
    return true;
}

}  // namespace zavtool
