// The C API over the shelf: every entry point catches what the C++ inside
// may throw (out of memory) and turns it into a status.
#include <algorithm>
#include <cstring>
#include <new>

#include "ZAVReader.h"
#include "key_reader.h"
#include "match.h"
#include "search_index.h"
#include "stem_tokenizer.h"
#include "stems.h"
#include "shelf.h"
#include "text.h"

struct ZAVReaderShelf {
    zavreader::Shelf shelf;
};

struct ZAVReaderResult {
    std::vector<zavreader::Answer> items;
    std::vector<ZAVReaderAnswer> views;
    int32_t code = ZAVR_OK;
    std::string reason;
};

struct ZAVReaderCursor {
    zavreader::Shelf *shelf = nullptr;
    size_t database = 0;
    std::shared_ptr<const zavreader::Loaded> loaded;
    uint32_t next = 0;
    std::string text, headword, reason;
    int32_t code = ZAVR_OK;
};

namespace {

using namespace zavreader;

ZAVReaderResult *resultOf(Answers &&answers) {
    auto *r = new (std::nothrow) ZAVReaderResult;
    if (!r) return nullptr;
    try {
        r->items = std::move(answers.items);
        r->code = answers.status.code;
        r->reason = std::move(answers.status.reason);
        if (r->code != ZAVR_OK && r->reason.empty()) r->reason = "failed";
        r->views.reserve(r->items.size());
        for (const Answer &a : r->items) {
            ZAVReaderAnswer v{};
            v.database = a.database;
            v.key_index = a.keyIndex;
            v.headword = a.headword.c_str();
            v.key = a.key.c_str();
            v.page = a.page;
            v.offset = a.offset;
            v.how = a.how;
            v.distance = a.distance;
            bool readable = a.withText && a.reason.empty();
            v.text = readable ? a.text.c_str() : nullptr;
            v.text_length = readable ? a.text.size() : 0;
            v.reason = a.reason.empty() ? nullptr : a.reason.c_str();
            r->views.push_back(v);
        }
    } catch (const std::bad_alloc &) {
        r->items.clear();
        r->views.clear();
        r->code = ZAVR_NO_MEMORY;
        r->reason = "out of memory";
    }
    return r;
}

ZAVReaderResult *failure(int32_t code, const char *reason) {
    Answers a;
    a.status = Status::fail(code, reason);
    return resultOf(std::move(a));
}

template <typename Call>
ZAVReaderResult *guarded(Call call) {
    try {
        return call();
    } catch (const std::bad_alloc &) {
        return failure(ZAVR_NO_MEMORY, "out of memory");
    }
}

// A call on the databases `database` selects, within `limits`.
template <typename Ask>
ZAVReaderResult *onSelection(ZAVReaderShelf *shelf, const char *database, const ZAVReaderLimits *limits, Ask ask) {
    return guarded([&] {
        Selection which;
        if (Status s = shelf->shelf.select(database, &which); !s) return failure(s.code, s.reason.c_str());
        Budget budget(limits);
        return resultOf(ask(which, budget));
    });
}

}  // namespace

extern "C" {

uint32_t ZAVReaderVersion(void) { return (ZAVR_VERSION_MAJOR << 16) | ZAVR_VERSION_MINOR; }

ZAVReaderShelf *ZAVReaderOpen(void) { return new (std::nothrow) ZAVReaderShelf; }

void ZAVReaderClose(ZAVReaderShelf *shelf) { delete shelf; }

int32_t ZAVReaderAdd(ZAVReaderShelf *shelf, const char *path, const char *name) {
    if (!shelf || !path) return -1;
    try {
        return shelf->shelf.add(path, name);
    } catch (const std::bad_alloc &) {
        return -1;
    }
}

size_t ZAVReaderProblemCount(const ZAVReaderShelf *shelf) { return shelf ? shelf->shelf.problemCount() : 0; }

const char *ZAVReaderProblemPath(const ZAVReaderShelf *shelf, size_t index) {
    const Problem *p = shelf ? shelf->shelf.problem(index) : nullptr;
    return p ? p->path.c_str() : nullptr;
}

const char *ZAVReaderProblemReason(const ZAVReaderShelf *shelf, size_t index) {
    const Problem *p = shelf ? shelf->shelf.problem(index) : nullptr;
    return p ? p->reason.c_str() : nullptr;
}

size_t ZAVReaderDatabaseCount(const ZAVReaderShelf *shelf) { return shelf ? shelf->shelf.databases().size() : 0; }

int32_t ZAVReaderDatabase(const ZAVReaderShelf *shelf, size_t index, ZAVReaderDatabaseInfo *info) {
    if (!shelf || !info) return ZAVR_BAD_ARGUMENT;
    if (index >= shelf->shelf.databases().size()) return ZAVR_NOT_FOUND;
    const Database &d = shelf->shelf.databases()[index];
    *info = ZAVReaderDatabaseInfo{};
    info->name = d.name.c_str();
    info->path = d.path.c_str();
    info->book_name = d.bookName.c_str();
    info->table_name = d.tableName.c_str();
    info->table = d.table;
    info->language = d.language;
    info->kind = d.kind;
    info->key_count = d.keyCount;
    info->index_bytes = shelf->shelf.indexBytes(index);
    return ZAVR_OK;
}

int64_t ZAVReaderFind(const ZAVReaderShelf *shelf, const char *name) {
    return shelf && name ? shelf->shelf.find(name) : -1;
}

int32_t ZAVReaderPrepare(ZAVReaderShelf *shelf, const ZAVReaderLimits *limits) {
    if (!shelf) return ZAVR_BAD_ARGUMENT;
    try {
        Budget budget(limits);
        int32_t code = ZAVR_OK;
        for (size_t i = 0; i < shelf->shelf.databases().size(); ++i) {
            Status s;
            if (!shelf->shelf.loaded(i, budget, &s) && code == ZAVR_OK) code = s.code;
            if (const auto &stemmer = shelf->shelf.databases()[i].stemmer) stemmer->prepare();
            if (budget.spent()) return budget.status().code;
        }
        return code;
    } catch (const std::bad_alloc &) {
        return ZAVR_NO_MEMORY;
    }
}

int32_t ZAVReaderSetLanguage(ZAVReaderShelf *shelf, const char *database, const char *language) {
    if (!shelf) return ZAVR_BAD_ARGUMENT;
    try {
        Selection which;
        if (Status s = shelf->shelf.select(database, &which); !s) return s.code;
        return shelf->shelf.setLanguage(which, language).code;
    } catch (const std::bad_alloc &) {
        return ZAVR_NO_MEMORY;
    }
}

const char *ZAVReaderStemLanguage(const ZAVReaderShelf *shelf, size_t database) {
    if (!shelf || database >= shelf->shelf.databases().size()) return nullptr;
    const auto &stemmer = shelf->shelf.databases()[database].stemmer;
    return stemmer ? stemmer->name().c_str() : nullptr;
}

const char *ZAVReaderStemNote(const ZAVReaderShelf *shelf, size_t database) {
    if (!shelf || database >= shelf->shelf.databases().size()) return nullptr;
    return shelf->shelf.databases()[database].stemNote.c_str();
}

ZAVReaderResult *ZAVReaderLookup(ZAVReaderShelf *shelf, const char *database, const char *word, uint32_t flags,
                                 const ZAVReaderLimits *limits) {
    if (!shelf || !word) return failure(ZAVR_BAD_ARGUMENT, "no shelf or no word");
    return onSelection(shelf, database, limits, [&](const Selection &which, Budget &budget) {
        return shelf->shelf.lookup(which, word, flags, budget);
    });
}

ZAVReaderResult *ZAVReaderMatch(ZAVReaderShelf *shelf, const char *database, const char *strategy, const char *pattern,
                                const ZAVReaderLimits *limits) {
    if (!shelf || !strategy || !pattern) return failure(ZAVR_BAD_ARGUMENT, "no shelf, strategy or pattern");
    return onSelection(shelf, database, limits, [&](const Selection &which, Budget &budget) {
        return shelf->shelf.match(which, strategy, pattern, budget);
    });
}

const char *ZAVReaderStrategyName(size_t index) {
    const auto &all = strategies();
    return index < all.size() ? all[index].name : nullptr;
}

const char *ZAVReaderStrategyDescription(size_t index) {
    const auto &all = strategies();
    return index < all.size() ? all[index].description : nullptr;
}

ZAVReaderResult *ZAVReaderSuggest(ZAVReaderShelf *shelf, const char *database, const char *word, size_t count,
                                  const ZAVReaderLimits *limits) {
    if (!shelf || !word) return failure(ZAVR_BAD_ARGUMENT, "no shelf or no word");
    return onSelection(shelf, database, limits, [&](const Selection &which, Budget &budget) {
        return shelf->shelf.suggest(which, word, count, budget);
    });
}

ZAVReaderResult *ZAVReaderComplete(ZAVReaderShelf *shelf, const char *database, const char *prefix, size_t count,
                                   const ZAVReaderLimits *limits) {
    if (!shelf || !prefix) return failure(ZAVR_BAD_ARGUMENT, "no shelf or no prefix");
    return onSelection(shelf, database, limits, [&](const Selection &which, Budget &budget) {
        return shelf->shelf.complete(which, prefix, count, budget);
    });
}

ZAVReaderResult *ZAVReaderEntry(ZAVReaderShelf *shelf, size_t database, uint32_t key_index) {
    if (!shelf) return failure(ZAVR_BAD_ARGUMENT, "no shelf");
    if (database >= shelf->shelf.databases().size()) return failure(ZAVR_NOT_FOUND, "no such database");
    return guarded([&] { return resultOf(shelf->shelf.entry(database, key_index)); });
}

ZAVReaderResult *ZAVReaderWriteIndex(ZAVReaderShelf *shelf, const char *database, const char *path,
                                     ZAVReaderIndexing *indexing) {
    if (!shelf || !database || !path || !indexing || indexing->size < sizeof(ZAVReaderIndexing))
        return failure(ZAVR_BAD_ARGUMENT, "no shelf, database, path or indexing");
    int64_t db = shelf->shelf.find(database);
    if (db < 0) return failure(ZAVR_NOT_FOUND, "no such database");
    return guarded([&] {
        ZAVReaderLimits limits{};
        limits.size = sizeof limits;
        limits.cancel = indexing->cancel;
        Budget budget(&limits);
        const Database &d = shelf->shelf.databases()[static_cast<size_t>(db)];
        // The texts' language: the one asked for, else the second of the
        // pair the book's name says ("German - English"), else its first.
        std::string language;
        if (indexing->language) {
            language = indexing->language;
        } else {
            auto [first, second] = languagesOfName(d.bookName.empty() ? d.name : d.bookName);
            language = second.empty() ? first : second;
        }
        std::string stemmer = snowballStemmer(language);
        if (!language.empty() && stemmer.empty() && indexing->language)
            return failure(ZAVR_NOT_FOUND, ("no stemmer for the language \"" + language + "\"").c_str());
        auto progress = [indexing](uint64_t done, uint64_t total) {
            if (indexing->progress) indexing->progress(indexing->context, done, total);
        };
        return resultOf(shelf->shelf.writeIndex(static_cast<size_t>(db), path, stemmer, progress, budget,
                                                &indexing->entries, &indexing->unreadable));
    });
}

size_t ZAVReaderIndexPath(const char *book_path, char *buffer, size_t size) {
    if (!book_path) return 0;
    std::string path = searchIndexPath(book_path);
    if (buffer && size > 0) {
        size_t n = std::min(path.size(), size - 1);
        std::memcpy(buffer, path.data(), n);
        buffer[n] = '\0';
    }
    return path.size();
}

ZAVReaderResult *ZAVReaderIndexState(ZAVReaderShelf *shelf, size_t database) {
    if (!shelf) return failure(ZAVR_BAD_ARGUMENT, "no shelf");
    if (database >= shelf->shelf.databases().size()) return failure(ZAVR_NOT_FOUND, "no such database");
    return guarded([&] {
        std::unique_ptr<SearchIndex> index;
        Answers a;
        a.status = SearchIndex::open(shelf->shelf.databases()[database].path, &index);
        return resultOf(std::move(a));
    });
}

ZAVReaderResult *ZAVReaderSearch(ZAVReaderShelf *shelf, const char *database, const char *query, size_t count,
                                 const ZAVReaderLimits *limits) {
    if (!shelf || !query) return failure(ZAVR_BAD_ARGUMENT, "no shelf or no query");
    return onSelection(shelf, database, limits, [&](const Selection &which, Budget &budget) {
        return shelf->shelf.search(which, query, count, budget);
    });
}

const char *ZAVReaderResultSnippet(const ZAVReaderResult *result, size_t index, size_t *length, const uint32_t **marks,
                                   size_t *mark_count) {
    if (!result || index >= result->items.size() || result->items[index].how != ZAVR_HOW_TEXT ||
        !result->items[index].reason.empty())
        return nullptr;
    const Answer &a = result->items[index];
    if (length) *length = a.snippet.size();
    if (marks) *marks = a.marks.data();
    if (mark_count) *mark_count = a.marks.size() / 2;
    return a.snippet.c_str();
}

int64_t ZAVReaderPageCount(ZAVReaderShelf *shelf, size_t database) {
    if (!shelf || database >= shelf->shelf.databases().size()) return -1;
    try {
        Status s;
        return shelf->shelf.pageCount(database, &s);
    } catch (const std::bad_alloc &) {
        return -1;
    }
}

ZAVReaderResult *ZAVReaderPage(ZAVReaderShelf *shelf, size_t database, int64_t page, int32_t sub,
                               const ZAVReaderLimits *limits) {
    if (!shelf || sub > MEMO_SUB_NUMBER) return failure(ZAVR_BAD_ARGUMENT, "no shelf, or a sub page past 127");
    if (database >= shelf->shelf.databases().size()) return failure(ZAVR_NOT_FOUND, "no such database");
    return guarded([&] {
        Budget budget(limits);
        return resultOf(shelf->shelf.page(database, page, sub, budget));
    });
}

size_t ZAVReaderResultCount(const ZAVReaderResult *result) { return result ? result->views.size() : 0; }

const ZAVReaderAnswer *ZAVReaderResultAt(const ZAVReaderResult *result, size_t index) {
    return result && index < result->views.size() ? &result->views[index] : nullptr;
}

int32_t ZAVReaderResultStatus(const ZAVReaderResult *result) { return result ? result->code : ZAVR_NO_MEMORY; }

const char *ZAVReaderResultReason(const ZAVReaderResult *result) {
    if (!result) return "out of memory";
    return result->code == ZAVR_OK ? nullptr : result->reason.c_str();
}

void ZAVReaderResultFree(ZAVReaderResult *result) { delete result; }

ZAVReaderCursor *ZAVReaderKeys(ZAVReaderShelf *shelf, size_t database, const char *word, uint32_t index) {
    auto *c = new (std::nothrow) ZAVReaderCursor;
    if (!c) return nullptr;
    try {
        if (!shelf || database >= shelf->shelf.databases().size()) {
            c->code = ZAVR_NOT_FOUND;
            c->reason = "no such database";
            return c;
        }
        c->shelf = &shelf->shelf;
        c->database = database;
        Budget budget;
        Status s;
        c->loaded = shelf->shelf.loaded(database, budget, &s);
        if (!c->loaded) {
            c->code = s.code;
            c->reason = s.reason;
            return c;
        }
        c->next = index;
        if (word) {
            const Database &d = shelf->shelf.databases()[database];
            std::vector<std::string> forms = wordForms(word, d.language);
            const KeyList &keys = c->loaded->keys;
            size_t lo = 0, hi = keys.size();
            std::string q = forms.empty() ? std::string(word) : forms[0];
            while (lo < hi) {
                size_t mid = lo + (hi - lo) / 2;
                if (collate(std::string(keys.text(mid)), q) < 0)
                    lo = mid + 1;
                else
                    hi = mid;
            }
            c->next = static_cast<uint32_t>(lo);
        }
    } catch (const std::bad_alloc &) {
        c->loaded.reset();
        c->code = ZAVR_NO_MEMORY;
        c->reason = "out of memory";
    }
    return c;
}

int32_t ZAVReaderNext(ZAVReaderCursor *cursor, ZAVReaderKey *key) {
    if (!cursor || !key) return -ZAVR_BAD_ARGUMENT;
    if (cursor->code != ZAVR_OK) return -cursor->code;
    if (!cursor->loaded || cursor->next >= cursor->loaded->keys.size()) return 0;
    try {
        const Database &d = cursor->shelf->databases()[cursor->database];
        const KeyList &keys = cursor->loaded->keys;
        uint32_t i = cursor->next;
        std::shared_ptr<Book> book = cursor->shelf->book(cursor->database);
        Status s;
        Lease lease = book->lease(&s);
        if (!lease) {
            cursor->code = s.code;
            cursor->reason = s.reason;
            return -s.code;
        }
        *key = ZAVReaderKey{};
        key->index = i;
        cursor->text = toUtf8(keys.text(i), d.language);
        key->fold = keys.isFold(i) ? 1 : 0;
        key->attribute = keys.attribute(i);
        if (key->fold) {
            KeyReader reader(*book, lease.handle(), d.table);
            cursor->headword = toUtf8(reader.headword(i), d.language);
        } else {
            cursor->headword = cursor->text;
        }
        key->text = cursor->text.c_str();
        key->headword = cursor->headword.c_str();
        if (book->isDictionary()) {
            key->page = i;
        } else {
            key->page = static_cast<uint32_t>(ZAVGetKeyPageNo(lease.handle(), d.table, i));
            key->offset = static_cast<uint32_t>(ZAVGetKeyPageOffset(lease.handle(), d.table, i));
        }
        ++cursor->next;
        return 1;
    } catch (const std::bad_alloc &) {
        cursor->code = ZAVR_NO_MEMORY;
        cursor->reason = "out of memory";
        return -ZAVR_NO_MEMORY;
    }
}

int64_t ZAVReaderNextBatch(ZAVReaderCursor *cursor, char *buffer, size_t size, size_t max_keys, size_t *used) {
    if (used) *used = 0;
    if (!cursor || !buffer) return -ZAVR_BAD_ARGUMENT;
    if (cursor->code != ZAVR_OK) return -cursor->code;
    if (!cursor->loaded) return 0;
    try {
        const Database &d = cursor->shelf->databases()[cursor->database];
        const KeyList &keys = cursor->loaded->keys;
        size_t at = 0;
        int64_t n = 0;
        while (cursor->next < keys.size() && static_cast<size_t>(n) < max_keys) {
            std::string_view raw = keys.text(cursor->next);
            std::string converted;
            std::string_view text = raw;
            if (needsConversion(raw, d.language)) {
                converted = toUtf8(raw, d.language);
                text = converted;
            }
            if (text.size() + 1 > size - at) {
                if (n == 0) return -ZAVR_LIMIT;  // the cursor stays: a larger buffer takes the key
                break;
            }
            std::memcpy(buffer + at, text.data(), text.size());
            at += text.size();
            buffer[at++] = '\0';
            ++cursor->next;
            ++n;
        }
        if (used) *used = at;
        return n;
    } catch (const std::bad_alloc &) {
        cursor->code = ZAVR_NO_MEMORY;
        cursor->reason = "out of memory";
        return -ZAVR_NO_MEMORY;
    }
}

int64_t ZAVReaderCursorPosition(const ZAVReaderCursor *cursor) {
    if (!cursor || cursor->code != ZAVR_OK) return -1;
    return cursor->next;
}

const char *ZAVReaderCursorReason(const ZAVReaderCursor *cursor) {
    if (!cursor) return "no cursor";
    return cursor->code == ZAVR_OK ? nullptr : cursor->reason.c_str();
}

void ZAVReaderCursorFree(ZAVReaderCursor *cursor) { delete cursor; }

int32_t ZAVReaderIsFoldKey(BookHandle book, uint32_t kind, int32_t table, uint32_t key, const char *text,
                           int32_t attribute) {
    if (!book || !text) return 0;
    try {
        return isFoldKey(kind == BOOK_KIND_DICTIONARY, book, table, key, text, attribute) ? 1 : 0;
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

size_t ZAVReaderFold(const char *text, int accents, char *buffer, size_t size) {
    if (!text) {
        if (buffer && size) buffer[0] = '\0';
        return 0;
    }
    try {
        std::string folded = accents ? foldAccents(text) : foldCase(text);
        if (buffer && size) {
            size_t n = std::min(folded.size(), size - 1);
            std::memcpy(buffer, folded.data(), n);
            buffer[n] = '\0';
        }
        return folded.size();
    } catch (const std::bad_alloc &) {
        if (buffer && size) buffer[0] = '\0';
        return 0;
    }
}

}  // extern "C"
