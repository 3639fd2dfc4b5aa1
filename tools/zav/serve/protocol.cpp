#include "serve/protocol.h"

#include <cctype>

namespace zavtool {

namespace {

const char kMimeHeader[] = "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n";

const char kHelpText[] =
    "DEFINE database word         -- look up word in database\n"
    "MATCH database strategy word -- match word in database using strategy\n"
    "SHOW DB                      -- list all accessible databases\n"
    "SHOW DATABASES               -- list all accessible databases\n"
    "SHOW STRAT                   -- list available matching strategies\n"
    "SHOW STRATEGIES              -- list available matching strategies\n"
    "SHOW INFO database           -- provide information about the database\n"
    "SHOW SERVER                  -- provide site-specific information\n"
    "OPTION MIME                  -- use MIME headers\n"
    "CLIENT info                  -- identify client to server\n"
    "STATUS                       -- display timing information\n"
    "HELP                         -- display this help information\n"
    "QUIT                         -- terminate connection\n"
    "\n"
    "Database * is every database, ! the first one that has an answer.\n"
    "Strategy . is the server's default.\n";

std::string upper(std::string word) {
    for (char &c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return word;
}

std::string statusLine(int code, const std::string &text) { return std::to_string(code) + " " + text + "\r\n"; }

Reply simple(int code, const std::string &text, bool close = false) { return {statusLine(code, text), code, close}; }

// Status code, a text body, then 250.
Reply listing(int code, const std::string &head, const std::string &body, bool mime) {
    return {statusLine(code, head) + textBody(body, mime) + statusLine(kDone, "ok"), kDone, false};
}

// The databases a name selects: one, every one ("*" and "!").
std::vector<size_t> selected(const Catalog &catalog, const std::string &name) {
    std::vector<size_t> out;
    if (name == "*" || name == "!") {
        for (size_t i = 0; i < catalog.databases.size(); ++i) out.push_back(i);
    } else if (int i = catalog.find(name); i >= 0) {
        out.push_back(static_cast<size_t>(i));
    }
    return out;
}

Reply overBudget() {
    return simple(kUnavailable, "server temporarily unavailable: the command took too long, try a narrower one");
}

std::string cutNote(bool cut, const ServerFacts &facts) {
    return cut ? " (answer cut at " + std::to_string(facts.maxOutput) + " bytes)" : "";
}

// Whether `piece` still fits into a body of at most `limit` bytes; appends it
// when it does.
bool append(std::string *body, const std::string &piece, size_t limit) {
    if (body->size() + piece.size() > limit) return false;
    *body += piece;
    return true;
}

Reply define(const std::vector<std::string> &w, Session &session, Shelf &shelf, const ServerFacts &facts,
             const Budget &limits) {
    if (w.size() != 3) return simple(kBadParameters, "syntax error, illegal parameters");
    const Catalog &catalog = shelf.catalog();
    std::vector<size_t> dbs = selected(catalog, w[1]);
    if (dbs.empty()) return simple(kNoDatabase, "invalid database, use \"SHOW DB\" for list of databases");
    std::string body;
    size_t count = 0;
    bool cut = false;
    for (size_t db : dbs) {
        Definitions found = shelf.define(db, w[2], facts.maxOutput - body.size(), limits);
        if (found.exhausted) return overBudget();
        const Database &d = catalog.databases[db];
        for (const Definition &def : found.items) {
            std::string piece =
                statusLine(kDefinitionFollows, quoted(def.headword) + " " + d.name + " " + quoted(d.description)) +
                textBody(def.text, session.mime);
            if (!append(&body, piece, facts.maxOutput)) {
                cut = true;
                break;
            }
            ++count;
        }
        cut = cut || found.cut;
        if (cut || (w[1] == "!" && !found.items.empty())) break;
    }
    if (count == 0 && !cut) return simple(kNoMatch, "no match");
    std::string head = std::to_string(count) + (count == 1 ? " definition" : " definitions") + " retrieved";
    return {statusLine(kDefinitionsFound, head + cutNote(cut, facts)) + body + statusLine(kDone, "ok"), kDone, false};
}

bool knownStrategy(const std::string &name) {
    for (const Strategy &s : strategies())
        if (name == s.name) return true;
    return false;
}

Reply match(const std::vector<std::string> &w, Session &session, Shelf &shelf, const ServerFacts &facts,
            const Budget &limits) {
    if (w.size() != 4) return simple(kBadParameters, "syntax error, illegal parameters");
    const Catalog &catalog = shelf.catalog();
    std::vector<size_t> dbs = selected(catalog, w[1]);
    if (dbs.empty()) return simple(kNoDatabase, "invalid database, use \"SHOW DB\" for list of databases");
    std::string strategy = w[2] == "." ? kDefaultStrategy : w[2];
    if (!knownStrategy(strategy))
        return simple(kNoStrategy, "invalid strategy, use \"SHOW STRAT\" for a list of strategies");
    std::string lines;
    size_t count = 0;
    bool cut = false;
    for (size_t db : dbs) {
        Matches found;
        std::string error;
        if (!shelf.match(db, strategy, w[3], facts.maxOutput - lines.size(), limits, &found, &error))
            return simple(kBadParameters, "syntax error, illegal parameters: " + error);
        if (found.exhausted) return overBudget();
        for (const std::string &word : found.words) {
            // One line of the body as sent: CRLF, and stuffed when it begins with a dot.
            std::string line = catalog.databases[db].name + " " + quoted(word) + "\r\n";
            if (!append(&lines, line[0] == '.' ? "." + line : line, facts.maxOutput)) {
                cut = true;
                break;
            }
            ++count;
        }
        cut = cut || found.cut;
        if (cut || (w[1] == "!" && !found.words.empty())) break;
    }
    if (count == 0 && !cut) return simple(kNoMatch, "no match");
    std::string head = std::to_string(count) + (count == 1 ? " match" : " matches") + " found" + cutNote(cut, facts);
    return {
        statusLine(kMatchesFound, head) + (session.mime ? kMimeHeader : "") + lines + ".\r\n" + statusLine(kDone, "ok"),
        kDone, false};
}

Reply show(const std::vector<std::string> &w, Session &session, Shelf &shelf, const ServerFacts &facts) {
    const Catalog &catalog = shelf.catalog();
    std::string what = w.size() > 1 ? upper(w[1]) : "";
    if ((what == "DB" || what == "DATABASES") && w.size() == 2) {
        if (catalog.databases.empty()) return simple(kNoDatabases, "no databases present");
        std::string lines;
        for (const Database &d : catalog.databases) lines += d.name + " " + quoted(d.description) + "\n";
        return listing(kDatabaseList, std::to_string(catalog.databases.size()) + " databases present", lines,
                       session.mime);
    }
    if ((what == "STRAT" || what == "STRATEGIES") && w.size() == 2) {
        std::string lines;
        for (const Strategy &s : strategies()) lines += std::string(s.name) + " " + quoted(s.description) + "\n";
        return listing(kStrategyList, std::to_string(strategies().size()) + " strategies available", lines,
                       session.mime);
    }
    if (what == "INFO" && w.size() == 3) {
        int db = catalog.find(w[2]);
        if (db < 0) return simple(kNoDatabase, "invalid database, use \"SHOW DB\" for list of databases");
        return listing(kDatabaseInfo, "database information follows", catalog.databases[static_cast<size_t>(db)].info,
                       session.mime);
    }
    if (what == "SERVER" && w.size() == 2) {
        std::string text = "zav serve on " + facts.host + ": " + std::to_string(catalog.databases.size()) +
                           " databases, up " + std::to_string(facts.uptimeSeconds) + " s, " +
                           std::to_string(facts.commands) + " commands answered\n";
        return listing(kServerInfo, "server information follows", text, session.mime);
    }
    return simple(kBadParameters, "syntax error, illegal parameters");
}

Reply client(const std::vector<std::string> &w, Session &session) {
    session.client = w.size() > 1 ? w[1] : "";
    return simple(kDone, "ok");
}

Reply status(const ServerFacts &facts) {
    return simple(kStatusReport, "status: up " + std::to_string(facts.uptimeSeconds) + " s, " +
                                     std::to_string(facts.clients) + " clients, " + std::to_string(facts.commands) +
                                     " commands");
}

Reply option(const std::vector<std::string> &w, Session &session) {
    if (w.size() == 2 && upper(w[1]) == "MIME") {
        session.mime = true;
        return simple(kDone, "ok - using MIME headers");
    }
    return simple(kBadParameters, "syntax error, illegal parameters");
}

// What one command of a client asks, with what a handler needs.
struct Request {
    const std::vector<std::string> &words;
    Session &session;
    Shelf &shelf;
    const ServerFacts &facts;
    const Budget &limits;
};

// The commands the server answers, each under its names.
struct Command {
    const char *name;
    const char *alias;  // nullptr: none
    Reply (*answer)(const Request &);
};

const Command kCommands[] = {
    {"DEFINE", "D", [](const Request &r) { return define(r.words, r.session, r.shelf, r.facts, r.limits); }},
    {"MATCH", "M", [](const Request &r) { return match(r.words, r.session, r.shelf, r.facts, r.limits); }},
    {"SHOW", nullptr, [](const Request &r) { return show(r.words, r.session, r.shelf, r.facts); }},
    {"CLIENT", nullptr, [](const Request &r) { return client(r.words, r.session); }},
    {"STATUS", nullptr, [](const Request &r) { return status(r.facts); }},
    {"OPTION", nullptr, [](const Request &r) { return option(r.words, r.session); }},
    {"HELP", nullptr,
     [](const Request &r) { return listing(kHelpFollows, "help text follows", kHelpText, r.session.mime); }},
    {"QUIT", nullptr, [](const Request &) { return simple(kClosing, "bye", true); }},
    {"AUTH", nullptr, [](const Request &) { return simple(kNotImplemented, "command not implemented"); }},
    {"SASLAUTH", nullptr, [](const Request &) { return simple(kNotImplemented, "command not implemented"); }},
    {"SASLRESP", nullptr, [](const Request &) { return simple(kNotImplemented, "command not implemented"); }},
};

Reply dispatch(const Request &request) {
    std::string verb = upper(request.words[0]);
    for (const Command &c : kCommands)
        if (verb == c.name || (c.alias && verb == c.alias)) return c.answer(request);
    return simple(kUnknownCommand, "syntax error, command not recognized");
}

}  // namespace

std::optional<std::vector<std::string>> splitCommand(const std::string &line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == ' ' || c == '\t') {
            ++i;
            continue;
        }
        std::string word;
        char quote = (c == '"' || c == '\'') ? static_cast<char>(c) : 0;
        if (quote) ++i;
        bool closed = !quote;
        for (; i < line.size(); ++i) {
            unsigned char d = static_cast<unsigned char>(line[i]);
            if (d < 0x20 && d != '\t') return std::nullopt;
            if (quote && d == static_cast<unsigned char>(quote)) {
                closed = true;
                ++i;
                break;
            }
            if (!quote && (d == ' ' || d == '\t')) break;
            // A backslash escapes a quote; any other backslash is itself (clients
            // send regular expressions unescaped).
            if (d == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\''))
                d = static_cast<unsigned char>(line[++i]);
            word += static_cast<char>(d);
        }
        if (!closed) return std::nullopt;
        words.push_back(std::move(word));
    }
    return words;
}

std::string textBody(const std::string &text, bool mime) {
    std::string out = mime ? kMimeHeader : "";
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        size_t stop = end > start && text[end - 1] == '\r' ? end - 1 : end;
        if (stop > start && text[start] == '.') out += '.';
        out.append(text, start, stop - start);
        out += "\r\n";
        start = end + 1;
    }
    return out + ".\r\n";
}

std::string quoted(const std::string &word) {
    std::string out = "\"";
    for (char c : word) {
        if (c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string banner(const ServerFacts &facts, const std::string &messageId) {
    return statusLine(kGreeting, facts.host + " zav serve <mime> <" + messageId + "@" + facts.host + ">");
}

Reply answer(const std::string &line, Session &session, Shelf &shelf, const ServerFacts &facts, const Budget &limits) {
    auto words = splitCommand(line);
    if (!words) return simple(kBadParameters, "syntax error, illegal parameters");
    if (words->empty()) return simple(kUnknownCommand, "syntax error, command not recognized");
    return dispatch(Request{*words, session, shelf, facts, limits});
}

}  // namespace zavtool
