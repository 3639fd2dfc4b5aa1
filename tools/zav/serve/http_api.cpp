#include "serve/http_api.h"

#include <optional>
#include <vector>

#include "core/book_health.h"
#include "core/book_host.h"
#include "core/cli.h"
#include "core/reader_shelf.h"
#include "core/toc_tree.h"

namespace zavtool {

namespace {

constexpr size_t kMaxQueryBytes = 1024;  // a word, prefix or pattern
constexpr int64_t kDefaultCount = 10, kMaxCount = 100;
constexpr uint32_t kMaxAnswers = 1000;
constexpr int32_t kMaxDictionarySub = 126;  // a dictionary entry's sub pages: 0..126

const std::string *param(const ApiParams &params, const char *name) {
    auto it = params.find(name);
    return it == params.end() ? nullptr : &it->second;
}

const char *howName(uint32_t how) {
    return how == ZAVR_HOW_STEM ? "stem" : how == ZAVR_HOW_ACCENT ? "accent" : how == ZAVR_HOW_CASE ? "case" : "exact";
}

// The status for a result the shelf stopped early, or 0 when it may be shown.
int failedStatus(const ZAVReaderResult *result) {
    switch (ZAVReaderResultStatus(result)) {
        case ZAVR_OK:
        case ZAVR_NOT_FOUND:
        case ZAVR_LIMIT: return 0;
        case ZAVR_TIME_OUT:
        case ZAVR_CANCELLED:
        case ZAVR_NO_MEMORY: return 503;
        case ZAVR_BAD_ARGUMENT:
        case ZAVR_BAD_PATTERN: return 400;
        default: return 500;
    }
}

ApiAnswer resultError(const ZAVReaderResult *result) {
    int status = failedStatus(result);
    return apiError(status, status == 503 ? "over the time or memory budget: " + reasonOf(result) : reasonOf(result));
}

}  // namespace

ApiAnswer apiError(int status, const std::string &text) { return {status, {{"error", text}}}; }

namespace {

// The parameters every look-up shares: q (required, bounded) and book (an
// id of the catalog, "*" when absent).
struct Query {
    std::string text, database = "*";
    size_t count = 0;
    std::optional<ApiAnswer> error;
};

std::optional<int64_t> number(const ApiParams &params, const char *name, int64_t low, int64_t high,
                              std::optional<int64_t> fallback);

// `counted`: the call takes count=N too (1 to kMaxCount, default kDefaultCount).
Query readQuery(const Catalog &catalog, const ApiParams &params, bool counted = false) {
    Query q;
    const std::string *text = param(params, "q");
    if (!text || text->empty())
        q.error = apiError(400, "the parameter q is missing");
    else if (text->size() > kMaxQueryBytes)
        q.error = apiError(414, "the parameter q is too long");
    else
        q.text = *text;
    if (const std::string *book = param(params, "book"); book && !q.error) {
        if (catalog.find(*book) < 0)
            q.error = apiError(404, "no book '" + *book + "'");
        else
            q.database = *book;
    }
    if (counted && !q.error) {
        auto count = number(params, "count", 1, kMaxCount, kDefaultCount);
        if (!count)
            q.error = apiError(400, "count must be a number from 1 to " + std::to_string(kMaxCount));
        else
            q.count = static_cast<size_t>(*count);
    }
    return q;
}

// A non-negative integer parameter within [low, high]; `fallback` when absent.
std::optional<int64_t> number(const ApiParams &params, const char *name, int64_t low, int64_t high,
                              std::optional<int64_t> fallback) {
    const std::string *text = param(params, name);
    if (!text) return fallback;
    auto v = parseInteger(*text);
    if (!v || *v < low || *v > high) return std::nullopt;
    return *v;
}

ZAVReaderLimits readerLimits(const ApiLimits &limits) {
    ZAVReaderLimits l{};
    l.size = sizeof l;
    l.max_answers = kMaxAnswers;
    l.max_bytes = limits.maxBytes;
    l.time_ms = limits.timeMs;
    l.cancel = limits.cancel;
    return l;
}

}  // namespace

ApiAnswer HttpApi::answer(const std::string &name, const ApiParams &params) {
    if (name == "books") return books();
    if (name == "lookup") return lookup(params);
    if (name == "suggest") return suggest(params);
    if (name == "search") return search(params);
    if (name == "toc") return toc(params);
    if (name == "page") return page(params);
    if (name == "subpages") return subpages(params);
    return apiError(404, "no such call");
}

ApiAnswer HttpApi::books() {
    nlohmann::json list = nlohmann::json::array();
    for (size_t i = 0; i < catalog_.databases.size(); ++i) {
        ZAVReaderDatabaseInfo info{};
        if (ZAVReaderDatabase(catalog_.shelf, i, &info) != ZAVR_OK) continue;
        // What SHOW INFO says of the book, up to the facts of its file: no
        // path goes out.
        const std::string &about = catalog_.databases[i].info;
        list.push_back({{"id", info.name},
                        {"name", info.book_name},
                        {"description", about.substr(0, about.find("\n\nfile: "))},
                        {"table", info.table},
                        {"tableName", info.table_name},
                        {"keys", info.key_count}});
    }
    return {200, {{"books", list}}};
}

ApiAnswer HttpApi::lookup(const ApiParams &params) {
    Query q = readQuery(catalog_, params);
    if (q.error) return *q.error;
    ZAVReaderLimits limits = readerLimits(limits_);
    if (const std::string *strategy = param(params, "strategy")) {
        bool known = false;
        for (const Strategy &s : strategies()) known = known || *strategy == s.name;
        if (!known) return apiError(400, "no strategy '" + *strategy + "'");
        if (*strategy == kTextStrategy) return apiError(400, "the entries' text is searched by /api/search");
        ReaderResult found(
            ZAVReaderMatch(catalog_.shelf, q.database.c_str(), strategy->c_str(), q.text.c_str(), &limits));
        if (!found) return apiError(503, "out of memory");
        if (failedStatus(found.get())) return resultError(found.get());
        nlohmann::json results = nlohmann::json::array();
        size_t last = SIZE_MAX;
        for (size_t i = 0; i < ZAVReaderResultCount(found.get()); ++i) {
            const ZAVReaderAnswer *a = ZAVReaderResultAt(found.get(), i);
            if (a->database != last)
                results.push_back(
                    {{"book", catalog_.databases.at(a->database).name}, {"words", nlohmann::json::array()}});
            last = a->database;
            results.back()["words"].push_back(a->headword);
        }
        nlohmann::json body = {{"query", q.text}, {"strategy", *strategy}, {"results", results}};
        if (ZAVReaderResultStatus(found.get()) == ZAVR_LIMIT) body["incomplete"] = reasonOf(found.get());
        return {200, body};
    }
    ReaderResult found(ZAVReaderLookup(catalog_.shelf, q.database.c_str(), q.text.c_str(), 0u, &limits));
    if (!found) return apiError(503, "out of memory");
    if (failedStatus(found.get())) return resultError(found.get());
    nlohmann::json results = nlohmann::json::array();
    size_t last = SIZE_MAX, n = ZAVReaderResultCount(found.get());
    for (size_t i = 0; i < n; ++i) {
        const ZAVReaderAnswer *e = ZAVReaderResultAt(found.get(), i);
        if (e->database != last)
            results.push_back(
                {{"book", catalog_.databases.at(e->database).name}, {"entries", nlohmann::json::array()}});
        last = e->database;
        nlohmann::json entry = {{"key", e->key},
                                {"keyIndex", e->key_index},
                                {"headword", e->headword},
                                {"page", e->page},
                                {"offset", e->offset},
                                {"how", howName(e->how)},
                                {"text", e->text ? nlohmann::json(std::string(e->text, e->text_length)) : nullptr}};
        if (e->reason) entry["reason"] = e->reason;
        results.back()["entries"].push_back(std::move(entry));
    }
    nlohmann::json body = {{"query", q.text}, {"results", results}, {"suggestions", nlohmann::json::array()}};
    if (ZAVReaderResultStatus(found.get()) == ZAVR_LIMIT) body["incomplete"] = reasonOf(found.get());
    if (n == 0) {
        ReaderResult offered(
            ZAVReaderSuggest(catalog_.shelf, q.database.c_str(), q.text.c_str(), kDefaultCount, &limits));
        if (!offered) return apiError(503, "out of memory");
        if (failedStatus(offered.get())) return resultError(offered.get());
        for (size_t i = 0; i < ZAVReaderResultCount(offered.get()); ++i)
            body["suggestions"].push_back(ZAVReaderResultAt(offered.get(), i)->headword);
    }
    return {200, body};
}

ApiAnswer HttpApi::suggest(const ApiParams &params) {
    Query q = readQuery(catalog_, params, true);
    if (q.error) return *q.error;
    ZAVReaderLimits limits = readerLimits(limits_);
    ReaderResult found(ZAVReaderComplete(catalog_.shelf, q.database.c_str(), q.text.c_str(), q.count, &limits));
    if (!found) return apiError(503, "out of memory");
    if (failedStatus(found.get())) return resultError(found.get());
    nlohmann::json list = nlohmann::json::array();
    for (size_t i = 0; i < ZAVReaderResultCount(found.get()); ++i) {
        const ZAVReaderAnswer *a = ZAVReaderResultAt(found.get(), i);
        list.push_back({{"book", catalog_.databases.at(a->database).name}, {"headword", a->headword}});
    }
    return {200, {{"query", q.text}, {"suggestions", list}}};
}

ApiAnswer HttpApi::search(const ApiParams &params) {
    Query q = readQuery(catalog_, params, true);
    if (q.error) return *q.error;
    ZAVReaderLimits limits = readerLimits(limits_);
    ReaderResult found(ZAVReaderSearch(catalog_.shelf, q.database.c_str(), q.text.c_str(), q.count, &limits));
    if (!found) return apiError(503, "out of memory");
    int32_t status = ZAVReaderResultStatus(found.get());
    // A book without a fresh index is the answer's problem, not a failure:
    // the other books' hits still come.
    if (status != ZAVR_UNREADABLE && failedStatus(found.get())) return resultError(found.get());
    nlohmann::json hits = nlohmann::json::array();
    for (size_t i = 0; i < ZAVReaderResultCount(found.get()); ++i) {
        const ZAVReaderAnswer *a = ZAVReaderResultAt(found.get(), i);
        size_t length = 0, markCount = 0;
        const uint32_t *marks = nullptr;
        const char *snippet = ZAVReaderResultSnippet(found.get(), i, &length, &marks, &markCount);
        nlohmann::json pairs = nlohmann::json::array();
        for (size_t k = 0; k < markCount; ++k) pairs.push_back({marks[2 * k], marks[2 * k + 1]});
        nlohmann::json hit = {{"book", catalog_.databases.at(a->database).name},
                              {"headword", a->headword},
                              {"keyIndex", a->key_index},
                              {"page", a->page},
                              {"offset", a->offset},
                              {"snippet", snippet ? std::string(snippet, length) : std::string()},
                              {"marks", pairs}};
        if (!snippet && a->reason) hit["reason"] = a->reason;
        hits.push_back(std::move(hit));
    }
    nlohmann::json body = {{"query", q.text}, {"hits", hits}, {"problem", nullptr}};
    if (status == ZAVR_LIMIT)
        body["incomplete"] = reasonOf(found.get());
    else if (status != ZAVR_OK)
        body["problem"] = reasonOf(found.get());
    return {200, body};
}

namespace {

// The database a request names with book=ID (required), and its table.
struct BookRef {
    ZAVReaderDatabaseInfo info{};
    size_t index = 0;
    std::string id;
    std::optional<ApiAnswer> error;
};

BookRef readBook(const Catalog &catalog, const ApiParams &params) {
    BookRef b;
    const std::string *id = param(params, "book");
    int index = id ? catalog.find(*id) : -1;
    if (!id)
        b.error = apiError(400, "the parameter book is missing");
    else if (index < 0 || ZAVReaderDatabase(catalog.shelf, static_cast<size_t>(index), &b.info) != ZAVR_OK)
        b.error = apiError(404, "no book '" + *id + "'");
    else {
        b.index = static_cast<size_t>(index);
        b.id = *id;
    }
    return b;
}

}  // namespace

ApiAnswer HttpApi::toc(const ApiParams &params) {
    BookRef b = readBook(catalog_, params);
    if (b.error) return *b.error;
    std::lock_guard<std::mutex> lock(bookCalls_);
    HostBook book;
    if (Status opened = book.open(b.info.path); !opened) return apiError(500, "the book cannot be opened");
    int64_t claimed = 0, count = walkableItems(book, b.info.table, &claimed);
    RawBook unused;
    TocWalker walker(book, b.info.table, count, false, &unused, 0);
    std::vector<TocNode> tree = count > 0 ? walker.walk() : std::vector<TocNode>();
    nlohmann::json items = tocJson(tree);
    if (items.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).size() > limits_.maxBytes)
        return apiError(503, "the table of contents is larger than an answer may be");
    return {200, {{"book", b.id}, {"items", items}, {"damaged", walker.damaged() || count < claimed}}};
}

namespace {

// The page a request names with page=N, checked against the table's pages.
std::optional<ApiAnswer> readPage(const Catalog &catalog, const BookRef &b, const ApiParams &params, int64_t *page) {
    auto n = number(params, "page", 0, 0xFFFFFFFFll, std::nullopt);
    if (!n) return apiError(400, "page must be a page number");
    int64_t count = ZAVReaderPageCount(catalog.shelf, b.index);
    if (count < 0) return apiError(500, "the book cannot be opened");
    if (*n >= count) return apiError(404, "no page " + std::to_string(*n) + ": the table has " + std::to_string(count));
    *page = *n;
    return std::nullopt;
}

}  // namespace

ApiAnswer HttpApi::page(const ApiParams &params) {
    BookRef b = readBook(catalog_, params);
    if (b.error) return *b.error;
    int64_t n = 0;
    if (auto error = readPage(catalog_, b, params, &n)) return *error;
    ZAVReaderLimits limits = readerLimits(limits_);
    ReaderResult read(ZAVReaderPage(catalog_.shelf, b.index, n, -1, &limits));
    if (!read) return apiError(503, "out of memory");
    int32_t status = ZAVReaderResultStatus(read.get());
    if (status == ZAVR_LIMIT) return apiError(503, "the page is larger than an answer may be");
    if (status != ZAVR_OK) return resultError(read.get());
    int64_t count = ZAVReaderPageCount(catalog_.shelf, b.index);
    const ZAVReaderAnswer *a = ZAVReaderResultAt(read.get(), 0);
    return {200,
            {{"book", b.id},
             {"page", n},
             {"text", std::string(a->text, a->text_length)},
             {"previous", n > 0 ? nlohmann::json(n - 1) : nullptr},
             {"next", n + 1 < count ? nlohmann::json(n + 1) : nullptr}}};
}

ApiAnswer HttpApi::subpages(const ApiParams &params) {
    BookRef b = readBook(catalog_, params);
    if (b.error) return *b.error;
    int64_t n = 0;
    if (auto error = readPage(catalog_, b, params, &n)) return *error;
    // A dictionary entry's further contents are its sub pages 0 to 126; every
    // other book's only sub page is the page's memo.
    bool dictionary = b.info.kind == BOOK_KIND_DICTIONARY;
    int32_t first = dictionary ? 0 : MEMO_SUB_NUMBER, last = dictionary ? kMaxDictionarySub : MEMO_SUB_NUMBER;
    ZAVReaderLimits limits = readerLimits(limits_);
    nlohmann::json subs = nlohmann::json::array();
    uint64_t used = 0;
    for (int32_t s = first; s <= last; ++s) {
        if (limits_.maxBytes) limits.max_bytes = limits_.maxBytes - used;  // > 0: a text past it stops the loop
        ReaderResult read(ZAVReaderPage(catalog_.shelf, b.index, n, s, &limits));
        if (!read) return apiError(503, "out of memory");
        int32_t status = ZAVReaderResultStatus(read.get());
        if (status == ZAVR_NOT_FOUND) continue;
        if (status == ZAVR_LIMIT) return apiError(503, "the sub pages are larger than an answer may be");
        if (status != ZAVR_OK) return resultError(read.get());
        const ZAVReaderAnswer *a = ZAVReaderResultAt(read.get(), 0);
        nlohmann::json sub = {{"sub", s}, {"text", std::string(a->text, a->text_length)}};
        if (s == MEMO_SUB_NUMBER) sub["name"] = "memo";
        subs.push_back(std::move(sub));
        used += a->text_length;
        if (limits_.maxBytes && used >= limits_.maxBytes)
            return apiError(503, "the sub pages are larger than an answer may be");
    }
    return {200, {{"book", b.id}, {"page", n}, {"subs", subs}}};
}

}  // namespace zavtool
