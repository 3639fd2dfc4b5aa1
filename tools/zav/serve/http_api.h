// The JSON API of the web side of `zav serve`: each answer is built from the
// catalog's reader-library shelf (and, for a table's contents, pages and sub
// pages, from the module's own calls on the database's book), never from a
// path a request names. Free of the HTTP library, so that the answers can be
// reasoned about on their own.
#ifndef ZAV_TOOL_SERVE_HTTP_API_H
#define ZAV_TOOL_SERVE_HTTP_API_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "serve/books.h"

namespace zavtool {

// A request's query parameters (the HTTP library's own type).
using ApiParams = std::multimap<std::string, std::string>;

struct ApiAnswer {
    int status = 200;  // 400 bad request, 404 unknown book or page, 503 over budget, 500 unreadable
    nlohmann::json body;
};

struct ApiLimits {
    uint32_t timeMs = 5000;                // a request's time on the shelf
    uint64_t maxBytes = 1u << 20;          // the most text one answer holds
    const volatile int *cancel = nullptr;  // set when the server stops
};

class HttpApi {
public:
    HttpApi(const Catalog &catalog, const ApiLimits &limits) : catalog_(catalog), limits_(limits) {}
    HttpApi(const HttpApi &) = delete;
    HttpApi &operator=(const HttpApi &) = delete;

    // The answer to GET /api/NAME with `params`; 404 for an unknown NAME.
    ApiAnswer answer(const std::string &name, const ApiParams &params);

private:
    ApiAnswer books();
    ApiAnswer lookup(const ApiParams &params);
    ApiAnswer suggest(const ApiParams &params);
    ApiAnswer search(const ApiParams &params);
    ApiAnswer toc(const ApiParams &params);
    ApiAnswer page(const ApiParams &params);
    ApiAnswer subpages(const ApiParams &params);

    const Catalog &catalog_;
    ApiLimits limits_;
    // The module's calls on a book opened for one request (contents, pages,
    // sub pages) are taken one at a time.
    std::mutex bookCalls_;
};

// {"error": text}.
ApiAnswer apiError(int status, const std::string &text);

}  // namespace zavtool

#endif
