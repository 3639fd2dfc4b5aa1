// zav serve: books as databases of a dictionary server.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "serve_books.h"
#include "serve_net.h"

namespace zavtool {

namespace {

const char kServeHelp[] =
    "usage: zav serve [--name NAME] BOOK... [--listen ADDR:PORT] [--threads N]\n"
    "                 [--max-clients N] [--idle-timeout SECONDS] [--max-output BYTES]\n"
    "\n"
    "Serve the books to dictionary clients over TCP (the DICT protocol). Each\n"
    "book is a database named after its file without the extension, or after\n"
    "the --name given just before it; its description is the book's name.\n"
    "A definition is every entry of a headword in each table of the book.\n"
    "Strategies: exact, prefix, lev, suffix, re, and . (lev).\n"
    "\n"
    "  --listen ADDR:PORT    address to listen on (default 127.0.0.1:2628; port 0\n"
    "                        picks a free port; [::1]:PORT for IPv6)\n"
    "  --threads N           workers answering commands (default 4)\n"
    "  --max-clients N       clients at once; more are told 420 (default 100)\n"
    "  --idle-timeout S      close a client idle, or not reading, for S seconds\n"
    "                        (default 60)\n"
    "  --max-output BYTES    the most one answer holds (default 1048576)\n"
    "\n"
    "Prints 'listening on ADDR:PORT' when ready and logs one line per command\n"
    "to standard error. SIGINT or SIGTERM stops it.\n";

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

}  // namespace

int runServe(int argc, char **argv) {
    const std::string command = "serve";
    ServerOptions options;
    std::vector<BookToServe> books;
    std::string pendingName, listen = options.address + ":" + std::to_string(options.port);
    int64_t threads = static_cast<int64_t>(options.threads), maxClients = static_cast<int64_t>(options.maxClients),
            idle = options.idleSeconds, maxOutput = static_cast<int64_t>(options.maxOutput);
    const std::vector<std::pair<Limit, int64_t *>> numbers = {{{"--threads", 1, 64}, &threads},
                                                              {{"--max-clients", 1, 10000}, &maxClients},
                                                              {{"--idle-timeout", 1, 86400}, &idle},
                                                              {{"--max-output", 1024, 1ll << 30}, &maxOutput}};
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
            auto v = integerArgument(command, a, argv[++i], limit.low, limit.high);
            if (!v) return EXIT_USAGE;
            *target = *v;
            numeric = true;
        }
        if (numeric) continue;
        if (a == "--listen" || a == "--name") {
            if (i + 1 >= argc) return usageError(command, a + " needs a value");
            (a == "--listen" ? listen : pendingName) = argv[++i];
        } else if (a.size() > 1 && a[0] == '-') {
            return usageError(command, "unknown option '" + a + "'");
        } else {
            books.push_back({a, pendingName.empty() ? databaseNameOf(a) : pendingName});
            pendingName.clear();
        }
    }
    if (books.empty()) return usageError(command, "expected at least one BOOK");
    if (!pendingName.empty()) return usageError(command, "--name must come before its BOOK");
    if (!parseListen(listen, &options.address, &options.port))
        return usageError(command, "--listen must be ADDR:PORT, not '" + listen + "'");
    options.threads = static_cast<size_t>(threads);
    options.maxClients = static_cast<size_t>(maxClients);
    options.idleSeconds = static_cast<unsigned>(idle);
    options.maxOutput = static_cast<size_t>(maxOutput);
#if ZAV_HAVE_ASIO
    Catalog catalog;
    std::string error;
    if (!loadCatalog(books, &catalog, &error)) {
        complain(command, error);
        return EXIT_USAGE;
    }
    return runServer(catalog, options);
#else
    complain(command, "this zav was built without the Asio library (Debian package libasio-dev): no server");
    return EXIT_USAGE;
#endif
}

}  // namespace zavtool
