#include "search_index.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "stem_tokenizer.h"
#include "text.h"

namespace zavreader {

namespace {

constexpr const char *kFormat = "1";
constexpr const char *kSuffix = ".search";
// How often (in SQLite's virtual machine steps) a search looks at its budget.
constexpr int kBudgetSteps = 2000;

bool isCjk(char32_t c) {
    return (c >= 0x3040 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xAC00 && c <= 0xD7AF) || (c >= 0x20000 && c <= 0x2FFFF);
}

void appendUtf8(std::string *out, char32_t c) {
    if (c < 0x80) {
        *out += static_cast<char>(c);
    } else if (c < 0x800) {
        *out += static_cast<char>(0xC0 | (c >> 6));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += static_cast<char>(0xE0 | (c >> 12));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (c >> 18));
        *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// A statement, finalized when it goes out of scope.
class Statement {
public:
    Statement(sqlite3 *db, const char *sql) { sqlite3_prepare_v2(db, sql, -1, &s_, nullptr); }
    ~Statement() { sqlite3_finalize(s_); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    sqlite3_stmt *get() const { return s_; }
    explicit operator bool() const { return s_ != nullptr; }

private:
    sqlite3_stmt *s_ = nullptr;
};

Status failure(sqlite3 *db, const std::string &path, const char *doing) {
    return Status::fail(ZAVR_UNREADABLE, path + ": " + doing + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

bool run(sqlite3 *db, const char *sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

// A file that a hostile index cannot turn against its reader: no writes,
// no functions or virtual tables run from its schema beyond FTS5's own.
void defend(sqlite3 *db) {
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 1 << 24);
    sqlite3_limit(db, SQLITE_LIMIT_SQL_LENGTH, 1 << 16);
}

// The index's words of a word or phrase; empty when it holds none.
std::string foldedWords(const std::string &text) {
    std::string words = indexWords(text), out;
    bool word = false;
    for (char c : words) {
        bool part = static_cast<unsigned char>(c) >= 0x80 || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                    (c >= 'A' && c <= 'Z');
        if (part) {
            if (!word && !out.empty()) out += ' ';
            out += c;
        }
        word = part;
    }
    return out;
}

// A translation is one word of the items table: its words joined, after a
// mark, so that a query matches a whole translation only.
constexpr const char *kItemMark = "qqitem", *kItemJoin = "qq";
// The most words a translation may have to be an item.
constexpr size_t kItemWords = 4;

// The text without its bracketed parts: [labels], <grammar>, {references},
// (notes).
std::string withoutBrackets(std::string_view line) {
    std::string out;
    int depth = 0;
    for (char c : line) {
        if (c == '[' || c == '<' || c == '{' || c == '(') ++depth;
        if (depth == 0) out += c;
        if ((c == ']' || c == '>' || c == '}' || c == ')') && depth > 0) --depth;
    }
    return out;
}

// The items table's word for a translation's words (separated by spaces).
std::string itemWord(const std::string &words) {
    std::string out = kItemMark;
    for (char c : words) out += c == ' ' ? std::string(kItemJoin) : std::string(1, c);
    return out;
}

size_t wordCount(const std::string &words) {
    size_t n = 0;
    bool in = false;
    for (char c : words) {
        bool word = c != ' ';
        if (word && !in) ++n;
        in = word;
    }
    return n;
}

}  // namespace

// The translations an entry lists: the parts of its lines after the first
// (which names the headword) between commas and semicolons, without
// bracketed labels; lines of examples (in quotes) and of references ("see:")
// are passed over. Each is its words between kItemStart and kItemEnd.
std::string translationItems(const std::string &text) {
    std::string out;
    size_t start = text.find('\n');
    while (start != std::string::npos && start < text.size()) {
        size_t end = text.find('\n', start + 1);
        std::string_view line =
            std::string_view(text).substr(start + 1, (end == std::string::npos ? text.size() : end) - start - 1);
        start = end;
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos) continue;
        line.remove_prefix(first);
        if (line.front() == '"' || line.substr(0, 4) == "see:" || line.substr(0, 4) == "See:" ||
            line.substr(0, 4) == "syn:")
            continue;
        std::string plain = withoutBrackets(line);
        size_t from = 0;
        while (from <= plain.size()) {
            size_t stop = plain.find_first_of(",;", from);
            if (stop == std::string::npos) stop = plain.size();
            std::string words = foldedWords(plain.substr(from, stop - from));
            if (!words.empty() && wordCount(words) <= kItemWords)
                out += std::string(out.empty() ? "" : " ") + itemWord(words);
            from = stop + 1;
        }
    }
    return out;
}

// The items phrase of a query of plain words ("apple", "apple tree"); empty
// for any other query.
std::string itemQuery(const std::string &query) {
    if (query.find_first_of("\"()*") != std::string::npos) return std::string();
    std::string words = foldedWords(query);
    if (words.empty() || wordCount(words) > kItemWords) return std::string();
    for (const char *op : {"AND", "OR", "NOT"}) {
        std::string spaced = std::string(" ") + op + " ";
        if ((" " + query + " ").find(spaced) != std::string::npos) return std::string();
    }
    return "\"" + itemWord(words) + "\"";
}

std::string searchIndexPath(const std::string &bookPath) { return bookPath + kSuffix; }

std::string indexWords(std::string_view text) {
    std::string folded = foldAccents(text), out;
    out.reserve(folded.size() + folded.size() / 2);
    std::vector<char32_t> chars = codePoints(folded);
    for (size_t i = 0; i < chars.size(); ++i) {
        char32_t c = chars[i];
        if (!isCjk(c)) {
            appendUtf8(&out, c);
            continue;
        }
        // A run of CJK characters: each character with the next, as words.
        bool after = i + 1 < chars.size() && isCjk(chars[i + 1]);
        bool before = i > 0 && isCjk(chars[i - 1]);
        if (!after && before) continue;
        out += ' ';
        appendUtf8(&out, c);
        if (after) appendUtf8(&out, chars[i + 1]);
        out += ' ';
    }
    return out;
}

namespace {

// A new empty file in the temporary folder, or "" with *reason.
std::string temporaryFile(std::string *reason) {
    std::error_code ec;
    auto folder = std::filesystem::temp_directory_path(ec);
    std::string pattern = (ec ? std::string("/tmp") : folder.string()) + "/zav-index-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) {
        *reason = pattern + ": no temporary file for the index";
        return std::string();
    }
    ::close(fd);
    return name.data();
}

// The index's tables; the words of texts stemmed by `stemmer` ("" for none).
Status createTables(sqlite3 *db, const std::string &path, const std::string &stemmer) {
    if (stemmer.find_first_not_of("abcdefghijklmnopqrstuvwxyz_") != std::string::npos)
        return Status::fail(ZAVR_BAD_ARGUMENT, "\"" + stemmer + "\" is not a stemmer");
    if (!registerStemTokenizer(db)) return failure(db, path, "cannot be made");
    std::string tokenizer = stemmer.empty() ? std::string("unicode61") : std::string(kStemTokenizer) + " " + stemmer;
    std::string schema =
        "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;"
        "CREATE TABLE meta(name TEXT PRIMARY KEY, value TEXT NOT NULL);"
        "CREATE TABLE place(id INTEGER PRIMARY KEY, tbl INTEGER NOT NULL, key INTEGER NOT NULL,"
        " page INTEGER NOT NULL, offset INTEGER NOT NULL);"
        "CREATE VIRTUAL TABLE items USING fts5(item, content='', detail='none',"
        " tokenize='unicode61 remove_diacritics 2');"
        "CREATE VIRTUAL TABLE words USING fts5(head, body, content='', tokenize='" +
        tokenizer + " remove_diacritics 2');";
    return run(db, schema.c_str()) ? Status::ok() : failure(db, path, "cannot be made");
}

// Inserts the rows of one entry each.
class RowWriter {
public:
    explicit RowWriter(sqlite3 *db)
        : place_(db, "INSERT INTO place VALUES(?1, ?2, ?3, ?4, ?5)"),
          words_(db, "INSERT INTO words(rowid, head, body) VALUES(?1, ?2, ?3)"),
          items_(db, "INSERT INTO items(rowid, item) VALUES(?1, ?2)") {}
    bool ready() const { return place_ && words_ && items_; }
    sqlite3_int64 count() const { return id_; }

    bool put(const IndexRow &row) {
        ++id_;
        sqlite3_stmt *p = place_.get(), *w = words_.get();
        sqlite3_bind_int64(p, 1, id_);
        sqlite3_bind_int(p, 2, row.table);
        sqlite3_bind_int64(p, 3, row.keyIndex);
        sqlite3_bind_int64(p, 4, row.page);
        sqlite3_bind_int64(p, 5, row.offset);
        std::string head = indexWords(row.headwords), body = indexWords(row.text);
        sqlite3_bind_int64(w, 1, id_);
        sqlite3_bind_text(w, 2, head.data(), static_cast<int>(head.size()), SQLITE_STATIC);
        sqlite3_bind_text(w, 3, body.data(), static_cast<int>(body.size()), SQLITE_STATIC);
        bool ok = sqlite3_step(p) == SQLITE_DONE && sqlite3_step(w) == SQLITE_DONE;
        sqlite3_reset(p);
        sqlite3_reset(w);
        std::string listed = translationItems(row.text);
        if (ok && !listed.empty()) {
            sqlite3_stmt *t = items_.get();
            sqlite3_bind_int64(t, 1, id_);
            sqlite3_bind_text(t, 2, listed.data(), static_cast<int>(listed.size()), SQLITE_STATIC);
            ok = sqlite3_step(t) == SQLITE_DONE;
            sqlite3_reset(t);
        }
        return ok;
    }

private:
    Statement place_, words_, items_;
    sqlite3_int64 id_ = 0;
};

// What the index records of itself and its book, then its tables merged
// and the file made as small as it goes.
Status finish(sqlite3 *db, const std::string &path, const Fingerprint &book, const std::string &stemmer,
              sqlite3_int64 entries) {
    Statement meta(db, "INSERT INTO meta VALUES(?1, ?2)");
    for (auto [name, value] : {std::pair<const char *, std::string>{"format", kFormat},
                               {"book", book.text()},
                               {"stemming", stemmer},
                               {"entries", std::to_string(entries)}}) {
        sqlite3_bind_text(meta.get(), 1, name, -1, SQLITE_STATIC);
        sqlite3_bind_text(meta.get(), 2, value.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(meta.get()) != SQLITE_DONE) return failure(db, path, "cannot be written");
        sqlite3_reset(meta.get());
    }
    if (!run(db, "INSERT INTO words(words) VALUES('optimize'); INSERT INTO items(items) VALUES('optimize'); COMMIT;") ||
        !run(db, "VACUUM;"))
        return failure(db, path, "cannot be written");
    return Status::ok();
}

}  // namespace

Status writeSearchIndex(const std::string &path, const Fingerprint &book, const std::string &stemmer,
                        const std::function<Status(const std::function<bool(const IndexRow &)> &)> &rows) {
    // Made in a temporary file of its own and copied to `path` whole: the
    // path may name a file that SQLite would not open as itself (an unnamed
    // temporary through /proc/self/fd, whose link SQLite follows to a name
    // that is gone).
    std::string reason, temporary = temporaryFile(&reason);
    if (temporary.empty()) return Status::fail(ZAVR_UNREADABLE, reason);
    struct Remove {
        std::string path;
        ~Remove() { std::remove(path.c_str()); }
    } removed{temporary};
    sqlite3 *db = nullptr;
    int opened = sqlite3_open_v2(temporary.c_str(), &db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3 *)> owner(db, sqlite3_close_v2);
    if (opened != SQLITE_OK) return failure(db, path, "cannot be made");
    if (Status made = createTables(db, path, stemmer); !made) return made;
    {
        // The statements end before the database is closed.
        RowWriter writer(db);
        if (!writer.ready()) return failure(db, path, "cannot be made");
        Status written;
        Status walked = rows([&](const IndexRow &row) {
            if (writer.put(row)) return true;
            written = failure(db, path, "cannot be written");
            return false;
        });
        if (!written) return written;
        if (!walked) return walked;
        if (Status done = finish(db, path, book, stemmer, writer.count()); !done) return done;
    }
    owner.reset();
    std::ifstream in(temporary, std::ios::binary);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    out.close();
    if (!in || !out) return Status::fail(ZAVR_UNREADABLE, path + ": cannot be written");
    return Status::ok();
}

SearchIndex::~SearchIndex() { sqlite3_close_v2(db_); }

Status SearchIndex::open(const std::string &bookPath, std::unique_ptr<SearchIndex> *out) {
    std::string path = searchIndexPath(bookPath);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return Status::fail(ZAVR_NOT_FOUND, bookPath + ": no search index (zav index)");
    if (!S_ISREG(st.st_mode)) return Status::fail(ZAVR_UNREADABLE, path + ": not a regular file");
    std::unique_ptr<SearchIndex> index(new SearchIndex);
    if (sqlite3_open_v2(path.c_str(), &index->db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
        return failure(index->db_, path, "cannot be opened");
    defend(index->db_);
    if (!registerStemTokenizer(index->db_)) return failure(index->db_, path, "cannot be opened");
    std::string format, recorded;
    {
        Statement meta(index->db_, "SELECT name, value FROM meta WHERE name IN ('format', 'book')");
        if (!meta) return Status::fail(ZAVR_UNREADABLE, path + ": not a search index of this kind");
        while (sqlite3_step(meta.get()) == SQLITE_ROW) {
            const char *name = reinterpret_cast<const char *>(sqlite3_column_text(meta.get(), 0));
            const char *value = reinterpret_cast<const char *>(sqlite3_column_text(meta.get(), 1));
            if (name && value) (std::string(name) == "format" ? format : recorded) = value;
        }
    }
    if (format != kFormat) return Status::fail(ZAVR_UNREADABLE, path + ": not a search index of this kind");
    auto fingerprint = Fingerprint::parse(recorded);
    if (!fingerprint || !sameFile(bookPath, *fingerprint))
        return Status::fail(ZAVR_UNREADABLE,
                            path + ": stale: the book changed since the index was made (zav index makes it again)");
    *out = std::move(index);
    return Status::ok();
}

namespace {

int stopWhenSpent(void *budget) { return static_cast<Budget *>(budget)->spent() ? 1 : 0; }

}  // namespace

Status SearchIndex::search(const std::string &query, const std::vector<int32_t> &tables, size_t count, Budget &budget,
                           std::vector<SearchHit> *hits) {
    std::string expression = indexQuery(query);
    if (expression.empty()) return Status::fail(ZAVR_BAD_PATTERN, "the query has no word to search for");
    // An entry one of whose translations is the query as typed (its words,
    // unstemmed) comes before the others.
    std::string item = itemQuery(query);
    std::string sql = "SELECT p.tbl, p.key, p.page, p.offset, bm25(words, 4.0, 1.0)";
    if (!item.empty())
        sql += " - CASE WHEN words.rowid IN (SELECT rowid FROM items WHERE items MATCH ?3) THEN 1000 ELSE 0 END";
    sql += " AS s FROM words JOIN place p ON p.id = words.rowid WHERE words MATCH ?1";
    if (!tables.empty()) {
        sql += " AND p.tbl IN (";
        for (size_t i = 0; i < tables.size(); ++i) sql += (i ? "," : "") + std::to_string(tables[i]);
        sql += ")";
    }
    sql += " ORDER BY s LIMIT ?2";
    Statement select(db_, sql.c_str());
    if (!select) return Status::fail(ZAVR_UNREADABLE, std::string("the search index: ") + sqlite3_errmsg(db_));
    sqlite3_bind_text(select.get(), 1, expression.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(select.get(), 2, static_cast<sqlite3_int64>(count));
    if (!item.empty()) sqlite3_bind_text(select.get(), 3, item.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_progress_handler(db_, kBudgetSteps, stopWhenSpent, &budget);
    int step;
    while ((step = sqlite3_step(select.get())) == SQLITE_ROW) {
        SearchHit h;
        h.table = sqlite3_column_int(select.get(), 0);
        h.keyIndex = static_cast<uint32_t>(sqlite3_column_int64(select.get(), 1));
        h.page = sqlite3_column_int64(select.get(), 2);
        h.offset = static_cast<uint32_t>(sqlite3_column_int64(select.get(), 3));
        h.score = -sqlite3_column_double(select.get(), 4);
        hits->push_back(h);
    }
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    if (step == SQLITE_INTERRUPT) return budget.status();
    if (step != SQLITE_DONE)
        return Status::fail(step == SQLITE_ERROR ? ZAVR_BAD_PATTERN : ZAVR_UNREADABLE,
                            std::string("the search: ") + sqlite3_errmsg(db_));
    return Status::ok();
}

namespace {

// The parts of a reader's query.
struct Part {
    enum Kind { kWord, kPhrase, kOperator, kOpen, kClose } kind;
    std::string text;  // a word or phrase as typed, an operator's name
    bool prefix = false;
};

std::vector<Part> partsOf(const std::string &query) {
    std::vector<Part> parts;
    size_t i = 0;
    while (i < query.size()) {
        char c = query[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            ++i;
        } else if (c == '"') {
            size_t end = query.find('"', i + 1);
            if (end == std::string::npos) end = query.size();
            parts.push_back({Part::kPhrase, query.substr(i + 1, end - i - 1)});
            i = end + 1;
        } else if (c == '(' || c == ')') {
            parts.push_back({c == '(' ? Part::kOpen : Part::kClose, std::string(1, c)});
            ++i;
        } else {
            size_t end = query.find_first_of(" \t\n\r\"()", i);
            if (end == std::string::npos) end = query.size();
            std::string word = query.substr(i, end - i);
            i = end;
            if (word == "AND" || word == "OR" || word == "NOT") {
                parts.push_back({Part::kOperator, word});
                continue;
            }
            bool prefix = word.size() > 1 && word.back() == '*';
            while (!word.empty() && word.back() == '*') word.pop_back();
            parts.push_back({Part::kWord, word, prefix});
        }
    }
    return parts;
}

}  // namespace

std::string indexQuery(const std::string &query) {
    // Operands become quoted strings; then operators and parentheses are
    // kept only where they join operands.
    std::vector<Part> parts;
    for (Part &p : partsOf(query)) {
        if (p.kind == Part::kWord || p.kind == Part::kPhrase) {
            p.text = foldedWords(p.text);
            if (p.text.empty()) continue;
        }
        parts.push_back(std::move(p));
    }
    std::string out;
    int depth = 0;
    bool operand = false;             // the last thing written ends an operand
    std::string pendingOperator;      // written before the next operand
    std::vector<size_t> openedAt;     // where each open parenthesis was written
    std::vector<bool> openedOperand;  // whether an operand came before it
    // An empty parenthesis is taken back with the operator before it.
    auto takeBack = [&] {
        out.resize(openedAt.back());
        operand = openedOperand.back();
    };
    for (size_t i = 0; i < parts.size(); ++i) {
        const Part &p = parts[i];
        switch (p.kind) {
            case Part::kOperator:
                if (operand) pendingOperator = p.text;
                break;
            case Part::kOpen:
                openedAt.push_back(out.size());
                openedOperand.push_back(operand);
                if (operand) out += pendingOperator.empty() ? " " : " " + pendingOperator + " ";
                pendingOperator.clear();
                out += "(";
                operand = false;
                ++depth;
                break;
            case Part::kClose:
                if (depth == 0) break;
                --depth;
                pendingOperator.clear();
                if (operand)
                    out += ")";
                else
                    takeBack();  // nothing inside
                openedAt.pop_back();
                openedOperand.pop_back();
                break;
            case Part::kWord:
            case Part::kPhrase: {
                if (operand) out += pendingOperator.empty() ? " " : " " + pendingOperator + " ";
                pendingOperator.clear();
                std::string quoted = "\"";
                for (char c : p.text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
                quoted += "\"";
                if (p.prefix) quoted += "*";
                out += quoted;
                operand = true;
                break;
            }
        }
    }
    for (; depth > 0; --depth) {
        if (operand)
            out += ")";
        else
            takeBack();
        openedAt.pop_back();
        openedOperand.pop_back();
    }
    bool any = out.find('"') != std::string::npos;
    return any ? out : std::string();
}

std::vector<std::string> SearchIndex::terms(const std::string &query) {
    std::vector<std::string> out;
    for (const Part &p : partsOf(query)) {
        if (p.kind != Part::kWord && p.kind != Part::kPhrase) continue;
        std::string words = foldedWords(p.text);
        size_t from = 0;
        while (from < words.size()) {
            size_t end = std::min(words.find(' ', from), words.size());
            out.push_back(words.substr(from, end - from) + (p.prefix && end == words.size() ? "*" : ""));
            from = end + 1;
        }
    }
    return out;
}

}  // namespace zavreader
