// The dictionary server protocol of `zav serve`, without sockets: one
// command line in, the whole reply out. Replies are CRLF-terminated lines;
// text bodies are dot-stuffed and end with a line holding a single dot.
#ifndef ZAV_TOOL_SERVE_PROTOCOL_H
#define ZAV_TOOL_SERVE_PROTOCOL_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "serve/books.h"

namespace zavtool {

// The longest command line, line end included.
constexpr size_t kMaxLineBytes = 1024;

// What the protocol needs to know of the server around it.
struct ServerFacts {
    size_t maxOutput = 1u << 20;  // bytes one reply may hold
    std::string host = "localhost";
    // Filled in for STATUS and SHOW SERVER by the caller.
    uint64_t uptimeSeconds = 0;
    uint64_t clients = 0;
    uint64_t commands = 0;
};

// The state of one connection.
struct Session {
    bool mime = false;
    std::string client;  // what CLIENT said
};

struct Reply {
    std::string text;  // the bytes to send
    int status = 0;    // the last status code in it, for the log
    bool close = false;
};

// Split a command line into words: atoms separated by spaces or tabs, and
// strings in double or single quotes; a backslash before a quote takes it
// literally, any other backslash stands for itself. nullopt for an
// unterminated quote or a control character.
std::optional<std::vector<std::string>> splitCommand(const std::string &line);

// A text body: each line of `text` (LF or CRLF separated) with CRLF, lines
// that begin with a dot doubled, then the closing ".".
std::string textBody(const std::string &text, bool mime);

// A word in double quotes, its double quotes escaped with a backslash.
std::string quoted(const std::string &word);

// The greeting sent on connect.
std::string banner(const ServerFacts &facts, const std::string &messageId);

// The status codes the server sends, by what they say. A command whose
// Budget ran out (its time limit passed, or it was cancelled) is answered
// kUnavailable, "server temporarily unavailable": the request was not carried
// out and may be sent again, where RFC 2229's 5yz codes each say something a
// client acts on (no such database or strategy, no match) and would be false.
enum DictStatus : int {
    kDatabaseList = 110,
    kStrategyList = 111,
    kDatabaseInfo = 112,
    kHelpFollows = 113,
    kServerInfo = 114,
    kDefinitionsFound = 150,
    kDefinitionFollows = 151,
    kMatchesFound = 152,
    kStatusReport = 210,
    kGreeting = 220,
    kClosing = 221,
    kDone = 250,
    kUnavailable = 420,
    kShuttingDown = 421,
    kUnknownCommand = 500,
    kBadParameters = 501,
    kNotImplemented = 502,
    kNoDatabase = 550,
    kNoStrategy = 551,
    kNoMatch = 552,
    kNoDatabases = 554,
};

// Answer one command line (without its line end), within `limits`: a DEFINE
// or MATCH that cannot finish within them is answered kUnavailable,
// never with part of its answer.
Reply answer(const std::string &line, Session &session, Shelf &shelf, const ServerFacts &facts,
             const Budget &limits = Budget());

}  // namespace zavtool

#endif
