#include "stem_tokenizer.h"

#include <libstemmer.h>
#include <sqlite3.h>

#include <cstring>
#include <new>

namespace zavreader {

namespace {

// One tokenizer of one table: unicode61's, and the stemmer.
struct StemTokenizer {
    fts5_tokenizer inner{};
    Fts5Tokenizer *innerInstance = nullptr;
    sb_stemmer *stemmer = nullptr;
};

struct TokenSink {
    void *context;
    int (*token)(void *, int, const char *, int, int, int);
    sb_stemmer *stemmer;
    bool prefix;  // the last word of a prefix query is left as it is
};

// Words longer than this are passed on unstemmed.
constexpr int kLongestStemmed = 256;

int stemToken(void *sink, int flags, const char *token, int length, int start, int end) {
    auto *s = static_cast<TokenSink *>(sink);
    if (s->prefix || length <= 0 || length > kLongestStemmed)
        return s->token(s->context, flags, token, length, start, end);
    const sb_symbol *stem = sb_stemmer_stem(s->stemmer, reinterpret_cast<const sb_symbol *>(token), length);
    if (!stem) return SQLITE_NOMEM;
    return s->token(s->context, flags, reinterpret_cast<const char *>(stem), sb_stemmer_length(s->stemmer), start, end);
}

int createStem(void *api, const char **arguments, int count, Fts5Tokenizer **out) {
    auto *fts = static_cast<fts5_api *>(api);
    if (count < 1) return SQLITE_ERROR;
    auto *t = new (std::nothrow) StemTokenizer;
    if (!t) return SQLITE_NOMEM;
    void *innerData = nullptr;
    int rc = fts->xFindTokenizer(fts, "unicode61", &innerData, &t->inner);
    if (rc == SQLITE_OK) t->stemmer = sb_stemmer_new(arguments[0], "UTF_8");
    if (rc == SQLITE_OK && !t->stemmer) rc = SQLITE_ERROR;
    if (rc == SQLITE_OK) rc = t->inner.xCreate(innerData, arguments + 1, count - 1, &t->innerInstance);
    if (rc != SQLITE_OK) {
        if (t->stemmer) sb_stemmer_delete(t->stemmer);
        delete t;
        return rc;
    }
    *out = reinterpret_cast<Fts5Tokenizer *>(t);
    return SQLITE_OK;
}

void deleteStem(Fts5Tokenizer *tokenizer) {
    auto *t = reinterpret_cast<StemTokenizer *>(tokenizer);
    if (!t) return;
    if (t->innerInstance) t->inner.xDelete(t->innerInstance);
    sb_stemmer_delete(t->stemmer);
    delete t;
}

int tokenizeStem(Fts5Tokenizer *tokenizer, void *context, int flags, const char *text, int length,
                 int (*token)(void *, int, const char *, int, int, int)) {
    auto *t = reinterpret_cast<StemTokenizer *>(tokenizer);
    TokenSink sink{context, token, t->stemmer, (flags & FTS5_TOKENIZE_PREFIX) != 0};
    return t->inner.xTokenize(t->innerInstance, &sink, flags, text, length, stemToken);
}

fts5_api *ftsOf(sqlite3 *db) {
    fts5_api *api = nullptr;
    sqlite3_stmt *select = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &select, nullptr) != SQLITE_OK) return nullptr;
    sqlite3_bind_pointer(select, 1, &api, "fts5_api_ptr", nullptr);
    sqlite3_step(select);
    sqlite3_finalize(select);
    return api;
}

}  // namespace

bool registerStemTokenizer(sqlite3 *db) {
    fts5_api *api = ftsOf(db);
    if (!api) return false;
    fts5_tokenizer tokenizer{createStem, deleteStem, tokenizeStem};
    return api->xCreateTokenizer(api, kStemTokenizer, api, &tokenizer, nullptr) == SQLITE_OK;
}

std::string snowballStemmer(const std::string &language) {
    std::string name;
    for (char c : language) name += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    size_t region = name.find_first_of("_-");
    if (region != std::string::npos) name.resize(region);
    if (name.empty()) return std::string();
    sb_stemmer *stemmer = sb_stemmer_new(name.c_str(), "UTF_8");
    if (!stemmer) return std::string();
    sb_stemmer_delete(stemmer);
    return name;
}

}  // namespace zavreader
