#include "shelf.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "key_reader.h"
#include "lookup.h"
#include "match.h"
#include "suggest.h"
#include "text.h"
#include "tovix/format.h"

namespace zavreader {

namespace {

// The distance given to a suggestion farther than this from the word.
constexpr size_t kFarthest = 64;
// How often a book's file is looked at for a change.
constexpr auto kCheckInterval = std::chrono::seconds(1);

uint64_t hashOf(std::string_view text) { return std::hash<std::string_view>{}(text); }

// Whether the file starts with a book's mark: a folder's other files (the
// engine's dictionaries, memo files, notes) are not books and not problems.
bool looksLikeBook(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char magic[4] = {};
    if (!in.read(reinterpret_cast<char *>(magic), sizeof magic)) return false;
    return tovix::le32(magic) == tovix::BOOK_MAGIC;
}

std::string stemOf(const std::string &path) {
    std::string base = std::filesystem::path(path).filename().string();
    size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    return base;
}

Answer toAnswer(size_t db, int32_t language, Found &&f) {
    Answer a;
    a.database = db;
    a.keyIndex = f.keyIndex;
    a.headword = toUtf8(keyBody(f.key), language);
    a.key = toUtf8(f.key, language);
    a.page = f.page;
    a.offset = f.offset;
    a.how = f.how;
    a.distance = f.distance;
    a.withText = f.withText;
    if (f.withText && f.reason.empty()) a.text = toUtf8(f.text, language);
    a.reason = std::move(f.reason);
    return a;
}

}  // namespace

bool note(Answers *result, const Status &s) {
    if (s) return true;
    if (result->status.good()) result->status = s;
    return s.code != ZAVR_TIME_OUT && s.code != ZAVR_CANCELLED && s.code != ZAVR_LIMIT;
}

bool Loaded::mayHold(const std::string &folded) const { return !candidates(byFold, folded).empty(); }

std::vector<uint32_t> Loaded::candidates(const Hashed &hashed, std::string_view text) const {
    uint64_t h = hashOf(text);
    auto at = std::lower_bound(hashed.begin(), hashed.end(), std::make_pair(h, uint32_t{0}));
    std::vector<uint32_t> out;
    for (; at != hashed.end() && at->first == h; ++at) out.push_back(at->second);
    return out;
}

void Shelf::report(const std::string &path, const std::string &reason) {
    std::lock_guard<std::mutex> lock(problemsMutex_);
    problems_.push_back({path, reason});
}

size_t Shelf::problemCount() const {
    std::lock_guard<std::mutex> lock(problemsMutex_);
    return problems_.size();
}

const Problem *Shelf::problem(size_t index) const {
    std::lock_guard<std::mutex> lock(problemsMutex_);
    return index < problems_.size() ? &problems_[index] : nullptr;
}

int32_t Shelf::add(const std::string &path, const char *name) {
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec)) return addBook(path, name);
    std::vector<std::filesystem::path> files;
    for (auto it = std::filesystem::directory_iterator(path, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        std::error_code fileError;
        if (it->is_regular_file(fileError) && looksLikeBook(it->path())) files.push_back(it->path());
    }
    if (ec) {
        report(path, path + ": cannot read the folder: " + ec.message());
        return -1;
    }
    std::sort(files.begin(), files.end());
    int32_t added = 0;
    for (const auto &file : files) {
        int32_t n = addBook(file.string(), nullptr);
        if (n > 0) added += n;
    }
    return added;
}

int32_t Shelf::addBook(const std::string &path, const char *name) {
    std::shared_ptr<Book> book;
    if (Status s = Book::open(path, &book); !s) {
        report(path, s.reason);
        return -1;
    }
    std::vector<const TableFacts *> keyed;
    for (const TableFacts &t : book->tables())
        if (t.keyCount > 0) keyed.push_back(&t);
    if (keyed.empty()) {
        report(path, book->isDictionary() && !book->tables().empty()
                         ? path +
                               ": no table shows words: the dictionary engine cannot open the book's "
                               "dictionaries (set ZOZIZID_DICT_DIR to the folder that holds them)"
                         : path + ": the book has no table with keys: nothing to look up in it");
        return -1;
    }
    auto slot = std::make_unique<Slot>();
    slot->path = path;
    slot->book = book;
    slot->tables.resize(book->tables().size());
    for (size_t i = 0; i < book->tables().size(); ++i) slot->loading.push_back(std::make_unique<std::mutex>());
    slot->checked = std::chrono::steady_clock::now();
    std::string base = name && *name ? std::string(name) : stemOf(path);
    for (const TableFacts *t : keyed) {
        Database db;
        // The first table with keys is the book's; the others carry their
        // table number.
        std::string wanted = t == keyed.front() ? base : base + "." + std::to_string(t->table);
        db.name = wanted;
        for (int n = 2; find(db.name) >= 0; ++n) db.name = wanted + "~" + std::to_string(n);
        db.slot = slots_.size();
        db.table = t->table;
        db.path = path;
        db.bookName = book->name().empty() ? base : book->name();
        db.tableName = t->name;
        db.language = t->language;
        db.kind = book->kind();
        db.keyCount = t->keyCount;
        databases_.push_back(std::move(db));
        defaultLanguage(databases_.size() - 1, book->name());
    }
    slots_.push_back(std::move(slot));
    return static_cast<int32_t>(keyed.size());
}

void Shelf::defaultLanguage(size_t db, const std::string &bookName) {
    Database &d = databases_[db];
    const std::pair<const char *, std::string> names[] = {
        {"the table's name", d.tableName}, {"the book's name", bookName}, {"the file's name", stemOf(d.path)}};
    for (const auto &[what, name] : names) {
        std::string language = languageOfName(name);
        if (language.empty()) continue;
        std::string source = "language " + language;
        source += std::string(" from ") + what + " \"" + name + "\"";
        useLanguage(db, language, source);
        return;
    }
    d.stemmer.reset();
    d.stemNote = stemmingBuilt() ? "no language known (neither the book's, the table's nor the file's name says one)"
                                 : "built without Hunspell";
}

Status Shelf::useLanguage(size_t db, const std::string &language, const std::string &source) {
    Database &d = databases_[db];
    d.stemmer.reset();
    if (!stemmingBuilt()) {
        d.stemNote = "built without Hunspell";
        return Status::fail(ZAVR_NOT_FOUND, d.stemNote);
    }
    Dictionary dictionary;
    std::string why;
    if (!findDictionary(language, &dictionary, &why)) {
        d.stemNote = source + ": " + why;
        return Status::fail(ZAVR_NOT_FOUND, d.stemNote);
    }
    for (const auto &stemmer : stemmers_)
        if (stemmer->aff() == dictionary.aff) d.stemmer = stemmer;
    if (!d.stemmer) {
        d.stemmer = std::make_shared<Stemmer>(dictionary);
        stemmers_.push_back(d.stemmer);
    }
    d.stemNote = source + ", Hunspell dictionary " + dictionary.aff;
    return Status::ok();
}

Status Shelf::setLanguage(const Selection &which, const char *language) {
    Status result;
    for (size_t db : which.databases) {
        Status s;
        if (!language) {
            Slot &slot = *slots_[databases_[db].slot];
            std::string bookName;
            {
                std::lock_guard<std::mutex> lock(slot.mutex);
                bookName = slot.book->name();
            }
            defaultLanguage(db, bookName);
        } else if (!*language) {
            databases_[db].stemmer.reset();
            databases_[db].stemNote = "turned off by the host";
        } else {
            s = useLanguage(db, language, std::string("language ") + language + " set by the host");
        }
        if (!s && result.good()) result = s;
    }
    return result;
}

int64_t Shelf::find(const std::string &name) const {
    for (size_t i = 0; i < databases_.size(); ++i)
        if (databases_[i].name == name) return static_cast<int64_t>(i);
    return -1;
}

Status Shelf::select(const char *database, Selection *out) const {
    out->databases.clear();
    out->firstAnswering = database && std::string(database) == "!";
    if (!database || std::string(database) == "*" || out->firstAnswering) {
        for (size_t i = 0; i < databases_.size(); ++i) out->databases.push_back(i);
        return Status::ok();
    }
    int64_t at = find(database);
    if (at < 0) return Status::fail(ZAVR_NOT_FOUND, std::string("no database is called '") + database + "'");
    out->databases.push_back(static_cast<size_t>(at));
    return Status::ok();
}

std::shared_ptr<Book> Shelf::book(size_t database) {
    Slot &slot = *slots_[databases_[database].slot];
    std::lock_guard<std::mutex> lock(slot.mutex);
    auto now = std::chrono::steady_clock::now();
    if (now - slot.checked < kCheckInterval) return slot.book;
    slot.checked = now;
    auto signature = signatureOf(slot.path);
    if (signature && *signature == slot.book->signature()) return slot.book;
    if (signature && *signature == slot.refused) return slot.book;
    std::shared_ptr<Book> fresh;
    Status s = signature ? Book::open(slot.path, &fresh)
                         : Status::fail(ZAVR_UNREADABLE, slot.path + ": the book is gone from its place");
    if (!s) {
        // Keep answering from the handles open on the old file, and say so once.
        if (signature) slot.refused = *signature;
        report(slot.path, s.reason + " (changed on disk; the book as it was opened still answers)");
        return slot.book;
    }
    slot.book = fresh;
    for (auto &t : slot.tables) t.reset();
    slot.tables.resize(fresh->tables().size());
    while (slot.loading.size() < fresh->tables().size()) slot.loading.push_back(std::make_unique<std::mutex>());
    return slot.book;
}

uint64_t Shelf::indexBytes(size_t database) const {
    const Database &db = databases_[database];
    Slot &slot = *slots_[db.slot];
    std::lock_guard<std::mutex> lock(slot.mutex);
    size_t t = static_cast<size_t>(db.table);
    return t < slot.tables.size() && slot.tables[t] ? slot.tables[t]->bytes() : 0;
}

std::shared_ptr<const Loaded> Shelf::inMemory(size_t database, const std::shared_ptr<Book> &current) {
    const Database &d = databases_[database];
    Slot &slot = *slots_[d.slot];
    std::lock_guard<std::mutex> lock(slot.mutex);
    size_t t = static_cast<size_t>(d.table);
    return slot.book == current && t < slot.tables.size() ? slot.tables[t] : nullptr;
}

std::shared_ptr<const Loaded> Shelf::loaded(size_t database, Budget &budget, Status *status) {
    const Database &db = databases_[database];
    std::shared_ptr<Book> current = book(database);
    Slot &slot = *slots_[db.slot];
    size_t t = static_cast<size_t>(db.table);
    std::mutex *loading = nullptr;
    {
        std::lock_guard<std::mutex> lock(slot.mutex);
        if (t >= slot.tables.size()) {
            *status = Status::fail(ZAVR_UNREADABLE, db.path + ": the book no longer has table " + std::to_string(t));
            return nullptr;
        }
        if (slot.tables[t]) return slot.tables[t];
        loading = slot.loading[t].get();
    }
    // One thread loads a table; the others wait for it.
    std::lock_guard<std::mutex> one(*loading);
    {
        std::lock_guard<std::mutex> lock(slot.mutex);
        if (slot.tables[t] && slot.book == current) return slot.tables[t];
    }
    Status s;
    Lease lease = current->lease(&s);
    if (!lease) {
        *status = s;
        return nullptr;
    }
    auto fresh = std::make_shared<Loaded>();
    s = loadKeyList(*current, lease.handle(), db.table, budget, &fresh->keys);
    if (!s) {
        *status = s;
        return nullptr;
    }
    for (size_t i = 0; i < fresh->keys.size(); ++i) {
        if (fresh->keys.isFold(i)) continue;
        if (!fresh->index.add(static_cast<uint32_t>(i), toUtf8(keyBody(fresh->keys.text(i)), db.language))) {
            *status = Status::fail(ZAVR_LIMIT, db.path + ": the headwords of table " + std::to_string(db.table) +
                                                   " are too large to hold in memory");
            return nullptr;
        }
    }
    fresh->index.seal();
    for (Loaded::Hashed *hashed : {&fresh->byFold, &fresh->byBare}) {
        hashed->reserve(fresh->index.size());
        for (size_t i = 0; i < fresh->index.size(); ++i) {
            std::string_view text = hashed == &fresh->byFold ? fresh->index.folded(i) : fresh->index.bare(i);
            hashed->push_back({hashOf(text), static_cast<uint32_t>(i)});
        }
        std::sort(hashed->begin(), hashed->end());
    }
    std::lock_guard<std::mutex> lock(slot.mutex);
    if (slot.book == current && t < slot.tables.size()) slot.tables[t] = fresh;
    return fresh;
}

Status Shelf::lookupIn(size_t db, const std::string &word, uint32_t flags, bool accents, Budget &budget,
                       std::vector<Answer> *out) {
    const Database &d = databases_[db];
    std::shared_ptr<const Loaded> index;
    if (accents) {
        Status s;
        index = loaded(db, budget, &s);
        if (!index) return s;
    } else {
        Slot &slot = *slots_[d.slot];
        std::lock_guard<std::mutex> lock(slot.mutex);
        size_t t = static_cast<size_t>(d.table);
        if (t < slot.tables.size()) index = slot.tables[t];
    }
    std::string body = keyBody(word);
    // A table whose headwords are all in memory answers "not here" without
    // reading a key.
    if (!accents && index && !index->mayHold(foldCase(body))) return Status::ok();
    std::shared_ptr<Book> current = book(db);
    Status s;
    Lease lease = current->lease(&s);
    if (!lease) return s;
    KeyReader reader(*current, lease.handle(), d.table);
    std::shared_ptr<const Loaded> keys = inMemory(db, current);
    reader.useKeys(keys ? &keys->keys : nullptr);
    bool first = flags & ZAVR_FIRST, withText = !(flags & ZAVR_NO_TEXT);
    Seen seen;
    std::vector<Found> found;
    if (!accents) {
        for (const std::string &form : wordForms(word, d.language)) {
            if (Status r = lookupWord(reader, form, first, withText, &seen, budget, &found); !r) return r;
            if (!found.empty()) break;
        }
    } else {
        // Headwords whose case fold is the word's (a book without keys for
        // folds), then those equal without accents.
        std::string folded = foldCase(body), bare = foldAccents(body);
        if (bare.empty()) return Status::ok();
        const TableIndex &ix = index->index;
        for (uint32_t how : {ZAVR_HOW_CASE, ZAVR_HOW_ACCENT}) {
            bool byCase = how == ZAVR_HOW_CASE;
            for (uint32_t i : index->candidates(byCase ? index->byFold : index->byBare, byCase ? folded : bare)) {
                if (budget.spent()) return budget.status();
                if (first && !found.empty()) break;
                if (byCase ? ix.folded(i) != folded : ix.bare(i) != bare) continue;
                size_t before = found.size();
                std::string raw = keyBody(index->keys.text(ix.keyIndex(i)));
                if (Status r = lookupWord(reader, raw, first, withText, &seen, budget, &found); !r) return r;
                for (size_t k = before; k < found.size(); ++k) found[k].how = how;
            }
        }
    }
    for (Found &f : found) out->push_back(toAnswer(db, d.language, std::move(f)));
    return Status::ok();
}

Status Shelf::stemIn(size_t db, const std::string &word, uint32_t flags, Budget &budget, std::vector<Answer> *out) {
    std::shared_ptr<Stemmer> stemmer = databases_[db].stemmer;
    if (!stemmer) return Status::ok();
    Seen seen;
    for (const std::string &stem : stemmer->stems(word)) {
        std::vector<Answer> items;
        if (Status s = lookupIn(db, stem, flags, false, budget, &items); !s) return s;
        for (Answer &a : items) {
            if (!seen.insert({a.page, a.offset}).second) continue;
            a.how = ZAVR_HOW_STEM;
            out->push_back(std::move(a));
            if (flags & ZAVR_FIRST) return Status::ok();
        }
    }
    return Status::ok();
}

Answers Shelf::lookup(const Selection &which, const std::string &word, uint32_t flags, Budget &budget) {
    Answers result;
    // As typed and in any case; then without accents; then the word's stems.
    for (int pass = 0; pass < 3; ++pass) {
        if (pass > 0 && (!result.items.empty() || !result.status.good())) break;
        if ((pass == 1 && (flags & ZAVR_NO_ACCENT)) || (pass == 2 && (flags & ZAVR_NO_STEM))) continue;
        for (size_t db : which.databases) {
            std::vector<Answer> items;
            Status s = pass == 2 ? stemIn(db, word, flags, budget, &items)
                                 : lookupIn(db, word, flags, pass == 1, budget, &items);
            for (Answer &a : items) {
                if (!budget.take(a.text.size())) {
                    note(&result, budget.status());
                    return result;
                }
                result.items.push_back(std::move(a));
            }
            if (!note(&result, s)) return result;
            if (which.firstAnswering && !result.items.empty()) return result;
        }
    }
    return result;
}

Answers Shelf::match(const Selection &which, const std::string &strategy, const std::string &pattern, Budget &budget) {
    Answers result;
    Matcher matcher;
    if (Status s = matcher.prepare(strategy, pattern); !s) {
        result.status = s;
        return result;
    }
    for (size_t db : which.databases) {
        Status s;
        std::shared_ptr<const Loaded> index = loaded(db, budget, &s);
        if (!index) {
            if (!note(&result, s)) return result;
            continue;
        }
        std::vector<Hit> hits;
        matcher.run(index->index, budget, &hits);
        const Database &d = databases_[db];
        for (const Hit &h : hits) {
            Answer a;
            a.database = db;
            a.keyIndex = index->index.keyIndex(h.entry);
            a.headword = std::string(index->index.headword(h.entry));
            a.key = toUtf8(index->keys.text(a.keyIndex), d.language);
            a.how = ZAVR_HOW_MATCH;
            a.distance = h.distance;
            result.items.push_back(std::move(a));
        }
        if (budget.exhausted()) {
            note(&result, budget.status());
            return result;
        }
        if (which.firstAnswering && !result.items.empty()) return result;
    }
    return result;
}

template <typename Ask>
bool Shelf::forEachReader(const Selection &which, Answers *result, Ask ask) {
    for (size_t db : which.databases) {
        std::shared_ptr<Book> current = book(db);
        Status s;
        Lease lease = current->lease(&s);
        if (lease) {
            KeyReader reader(*current, lease.handle(), databases_[db].table);
            std::shared_ptr<const Loaded> keys = inMemory(db, current);
            reader.useKeys(keys ? &keys->keys : nullptr);
            s = ask(db, reader);
        }
        if (!note(result, s)) return false;
    }
    return true;
}

Answers Shelf::suggest(const Selection &which, const std::string &word, size_t count, Budget &budget) {
    Answers result;
    forEachReader(which, &result, [&](size_t db, KeyReader &reader) {
        if (budget.spent()) return budget.status();
        const Database &d = databases_[db];
        std::vector<std::string> forms = wordForms(word, d.language);
        if (forms.empty()) return Status::ok();
        std::vector<Suggestion> found;
        Status s = suggestWords(reader, forms[0], count, &found);
        for (Suggestion &g : found) {
            if (result.items.size() >= count) break;
            Answer a;
            a.database = db;
            auto at = reader.lowerBound(g.headword);
            a.keyIndex = at.value_or(0);
            a.headword = toUtf8(g.headword, d.language);
            const std::string *key = at && *at < reader.count() ? reader.text(*at) : nullptr;
            a.key = key ? toUtf8(*key, d.language) : a.headword;
            if (key) {
                a.page = reader.page(*at);
                a.offset = reader.offset(*at);
            }
            a.how = ZAVR_HOW_SUGGEST;
            a.distance = static_cast<uint32_t>(editDistance(foldCase(a.headword), foldCase(word), kFarthest));
            result.items.push_back(std::move(a));
        }
        return s;
    });
    return result;
}

Answers Shelf::complete(const Selection &which, const std::string &prefix, size_t count, Budget &budget) {
    Answers result;
    forEachReader(which, &result, [&](size_t db, KeyReader &reader) {
        const Database &d = databases_[db];
        Status s;
        for (const std::string &form : wordForms(prefix, d.language)) {
            std::vector<std::pair<uint32_t, std::string>> found;
            s = completeWord(reader, form, count, budget, &found);
            for (auto &[index, name] : found) {
                Answer a;
                a.database = db;
                a.keyIndex = index;
                a.headword = toUtf8(name, d.language);
                const std::string *key = reader.text(index);
                a.key = key ? toUtf8(*key, d.language) : a.headword;
                a.how = ZAVR_HOW_MATCH;
                result.items.push_back(std::move(a));
            }
            if (!s || !found.empty()) break;
        }
        return s;
    });
    return result;
}

Answers Shelf::entry(size_t database, uint32_t keyIndex) {
    Answers result;
    const Database &d = databases_[database];
    std::shared_ptr<Book> current = book(database);
    Status s;
    Lease lease = current->lease(&s);
    if (!lease) {
        result.status = s;
        return result;
    }
    KeyReader reader(*current, lease.handle(), d.table);
    std::shared_ptr<const Loaded> keys = inMemory(database, current);
    reader.useKeys(keys ? &keys->keys : nullptr);
    if (keyIndex >= reader.count()) {
        result.status = Status::fail(
            ZAVR_NOT_FOUND, d.path + ": table " + std::to_string(d.table) + " has no key " + std::to_string(keyIndex));
        return result;
    }
    std::vector<Found> found;
    result.status = entryOf(reader, keyIndex, ZAVR_HOW_EXACT, true, nullptr, &found);
    for (Found &f : found) result.items.push_back(toAnswer(database, d.language, std::move(f)));
    return result;
}

int64_t Shelf::pageCount(size_t database, Status *status) {
    std::shared_ptr<Book> current = book(database);
    Lease lease = current->lease(status);
    if (!lease) return -1;
    return static_cast<uint32_t>(ZAVGetTablePageCount(lease.handle(), databases_[database].table));
}

Answers Shelf::page(size_t database, int64_t page, int32_t sub, Budget &budget) {
    Answers result;
    const Database &d = databases_[database];
    std::shared_ptr<Book> current = book(database);
    Lease lease = current->lease(&result.status);
    if (!lease) return result;
    const std::string where = d.path + ": table " + std::to_string(d.table);
    int64_t count = static_cast<uint32_t>(ZAVGetTablePageCount(lease.handle(), d.table));
    if (page < 0 || page >= count) {
        result.status = Status::fail(
            ZAVR_NOT_FOUND, where + " has no page " + std::to_string(page) + " (it has " + std::to_string(count) + ")");
        return result;
    }
    std::string why;
    std::optional<std::string> text;
    if (sub < 0) {
        text = soundPage(*current, lease.handle(), d.table, page, &why);
        if (!text) {
            result.status = Status::fail(ZAVR_UNREADABLE, why);
            return result;
        }
    } else {
        text = readSubPage(lease.handle(), d.table, sub, static_cast<uint32_t>(page));
        if (!text) {
            result.status = Status::fail(
                ZAVR_NOT_FOUND, where + ": page " + std::to_string(page) + " has no sub page " + std::to_string(sub));
            return result;
        }
    }
    if (!budget.take(text->size())) {
        result.status = budget.status();
        return result;
    }
    Answer a;
    a.database = database;
    a.page = page;
    a.withText = true;
    a.text = toUtf8(*text, d.language);
    result.items.push_back(std::move(a));
    return result;
}

}  // namespace zavreader
