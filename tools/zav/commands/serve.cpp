// zav serve: books as databases of a dictionary server.
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "core/cli.h"
#include "core/reader_shelf.h"
#include "commands/commands.h"
#include "serve/books.h"
#include "serve/log.h"
#include "serve/net.h"
#if ZAV_HAVE_HTTP
#include <pthread.h>

#include "serve/http_server.h"
#endif

namespace zavtool {

namespace {

const char kServeHelp[] =
    "usage: zav serve [--name NAME] BOOK|FOLDER... [--listen ADDR:PORT] [--threads N]\n"
    "                 [--max-clients N] [--max-per-address N] [--idle-timeout SECONDS]\n"
    "                 [--command-timeout SECONDS] [--max-output BYTES]\n"
    "                 [--http ADDR:PORT] [--http-threads N] [--http-log FILE]\n"
    "                 [--language LANG]\n"
    "\n"
    "Serve the books, and every book in each FOLDER, to dictionary clients over\n"
    "TCP (the DICT protocol). Each table of a book that has keys is a database,\n"
    "named after the book's file without the extension (or the --name given\n"
    "just before it), with \".TABLE\" after it when several tables have keys;\n"
    "its description is the book's name. A definition is every entry of a\n"
    "headword, in any case; without accents when none matches as typed; by its\n"
    "stems (Hunspell's) when none matches so either, in a database whose\n"
    "language Hunspell knows ('zav info' tells).\n"
    "Strategies: exact, prefix, nprefix, substring, suffix, re, regexp,\n"
    "soundex, lev, word, first, last, and . (lev); text searches the entries'\n"
    "text through the book's index ('zav index') and gives the headwords of\n"
    "the best 100 hits, best first. A book of a folder that cannot be served\n"
    "is reported and left out.\n"
    "\n"
    "  --listen ADDR:PORT    address to listen on (default 127.0.0.1:2628; port 0\n"
    "                        picks a free port; [::1]:PORT for IPv6)\n"
    "  --threads N           workers answering commands (default 4)\n"
    "  --max-clients N       clients at once; more are told 420 (default 100)\n"
    "  --max-per-address N   clients at once from one IP address (default 16)\n"
    "  --idle-timeout S      close a client idle, or not reading, for S seconds\n"
    "                        (default 60; 3 while more than 3/4 of the clients\n"
    "                        allowed are connected)\n"
    "  --command-timeout S   the time a worker may spend on one command; past it\n"
    "                        the answer is 420 (default 5)\n"
    "  --max-output BYTES    the most one answer holds (default 1048576)\n"
    "  --http ADDR:PORT      also serve the web reader and its JSON API over HTTP\n"
    "                        (/api/books, lookup, suggest, search, toc, page,\n"
    "                        subpages); with --http and no --listen, only HTTP\n"
    "                        is served\n"
    "  --http-threads N      HTTP requests answered at once (default 8)\n"
    "  --http-log FILE       append one line per HTTP request to FILE\n"
    "  --language LANG       the headwords' language of every database, for stem\n"
    "                        look-ups (de, de_DE; \"\" turns them off); default:\n"
    "                        the one each book's name says\n"
    "\n"
    "Prints 'listening on ADDR:PORT' (and 'http listening on ADDR:PORT') when\n"
    "ready and logs one line per DICT command to standard error. SIGINT or\n"
    "SIGTERM stops it.\n";

struct Limit {
    const char *option;
    int64_t low, high;
};

bool parseListen(const std::string &text, std::string *address, uint16_t *port) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    auto p = parseInteger(text.substr(colon + 1));
    if (!p || *p < 0 || *p > 65535) return false;
    *address = host;
    *port = static_cast<uint16_t>(*p);
    return true;
}

// What the command line asks of the web side.
struct WebArgs {
    std::string listen, log;
    int64_t threads = 8;
};

#if ZAV_HAVE_ASIO && ZAV_HAVE_HTTP
// Serve HTTP, and DICT too when `dict`, until SIGINT or SIGTERM.
int serveWithHttp(const std::string &command, Catalog &catalog, const ServerOptions &options, const WebArgs &args,
                  bool dict) {
    HttpOptions web;
    parseListen(args.listen, &web.address, &web.port);
    web.threads = static_cast<size_t>(args.threads);
    web.requestSeconds = options.commandSeconds;
    web.maxOutput = options.maxOutput;
    web.logPath = args.log;
    // Every other thread (the catalog's, the web side's) leaves SIGINT and
    // SIGTERM to this one: to the DICT side's handler, or to the wait below
    // when only HTTP is served.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    catalog.prepareInBackground();
    std::signal(SIGPIPE, SIG_IGN);
    HttpServer webServer(catalog, web);
    std::string error;
    if (!webServer.start(&error)) {
        complain(command, error);
        return EXIT_USAGE;
    }
    int code = EXIT_OK;
    if (dict) {
        pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
        code = runServer(catalog, options);
    } else {
        int received = 0;
        sigwait(&stopSignals, &received);
        logLine("stopping");
    }
    webServer.stop();
    return code;
}
#endif

// Open the books, set their language and serve them until SIGINT or SIGTERM.
int serveBooks(const std::string &command, const std::vector<BookToServe> &books, const ServerOptions &options,
               const WebArgs &web, bool dict, const std::optional<std::string> &language) {
#if ZAV_HAVE_ASIO
    Catalog catalog;
    std::string error;
    if (!loadCatalog(books, &catalog, &error)) {
        complain(command, error);
        return EXIT_USAGE;
    }
    if (language) {
        if (Status set = setShelfLanguage(catalog.shelf, *language); !set)
            complain(command, "warning: " + set.reason());
    }
    if (web.listen.empty()) {
        catalog.prepareInBackground();
        return runServer(catalog, options);
    }
#if ZAV_HAVE_HTTP
    return serveWithHttp(command, catalog, options, web, dict);
#else
    (void)dict;
    complain(command, "this zav was built without cpp-httplib (Debian package libcpp-httplib-dev): no --http");
    return EXIT_USAGE;
#endif
#else
    (void)books, (void)options, (void)web, (void)dict, (void)language;
    complain(command, "this zav was built without the Asio library (Debian package libasio-dev): no server");
    return EXIT_USAGE;
#endif
}

}  // namespace

int runServe(int argc, char **argv) {
    const std::string command = "serve";
    ServerOptions options;
    std::vector<BookToServe> books;
    std::string pendingName, listen;
    std::optional<std::string> language;
    WebArgs web;
    int64_t threads = static_cast<int64_t>(options.threads), maxClients = static_cast<int64_t>(options.maxClients),
            perAddress = static_cast<int64_t>(options.maxPerAddress), idle = options.idleSeconds,
            commandTime = options.commandSeconds, maxOutput = static_cast<int64_t>(options.maxOutput);
    const std::vector<std::pair<Limit, int64_t *>> numbers = {{{"--threads", 1, 64}, &threads},
                                                              {{"--max-clients", 1, 10000}, &maxClients},
                                                              {{"--max-per-address", 1, 10000}, &perAddress},
                                                              {{"--idle-timeout", 1, 86400}, &idle},
                                                              {{"--command-timeout", 1, 3600}, &commandTime},
                                                              {{"--max-output", 1024, 1ll << 30}, &maxOutput},
                                                              {{"--http-threads", 1, 256}, &web.threads}};
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kServeHelp, stdout);
            return EXIT_OK;
        }
        bool numeric = false;
        for (const auto &[limit, target] : numbers) {
            if (a != limit.option) continue;
            if (i + 1 >= argc) return usageError(command, a + " needs a value");
            Result<int64_t> v = integerArgument(a, argv[++i], limit.low, limit.high);
            if (!v) return reportFailure(command, v.failure());
            *target = *v;
            numeric = true;
        }
        if (numeric) continue;
        if (a == "--language") {
            if (i + 1 >= argc) return usageError(command, a + " needs a value");
            language = argv[++i];
        } else if (a == "--listen" || a == "--name" || a == "--http" || a == "--http-log") {
            if (i + 1 >= argc) return usageError(command, a + " needs a value");
            (a == "--listen" ? listen : a == "--name" ? pendingName : a == "--http" ? web.listen : web.log) = argv[++i];
        } else if (a.size() > 1 && a[0] == '-') {
            return usageError(command, "unknown option '" + a + "'");
        } else {
            books.push_back({a, pendingName});
            pendingName.clear();
        }
    }
    if (books.empty()) return usageError(command, "expected at least one BOOK");
    if (!pendingName.empty()) return usageError(command, "--name must come before its BOOK");
    bool dict = !listen.empty() || web.listen.empty();
    if (dict && !listen.empty() && !parseListen(listen, &options.address, &options.port))
        return usageError(command, "--listen must be ADDR:PORT, not '" + listen + "'");
    std::string httpAddress;
    uint16_t httpPort = 0;
    if (!web.listen.empty() && !parseListen(web.listen, &httpAddress, &httpPort))
        return usageError(command, "--http must be ADDR:PORT, not '" + web.listen + "'");
    if (!web.log.empty() && web.listen.empty()) return usageError(command, "--http-log needs --http");
    options.threads = static_cast<size_t>(threads);
    options.maxClients = static_cast<size_t>(maxClients);
    options.maxPerAddress = static_cast<size_t>(perAddress);
    options.idleSeconds = static_cast<unsigned>(idle);
    options.commandSeconds = static_cast<unsigned>(commandTime);
    options.maxOutput = static_cast<size_t>(maxOutput);
    return serveBooks(command, books, options, web, dict, language);
}

}  // namespace zavtool
