/*
 * ZAVReader: what a reader asks of a shelf of books, answered through the
 * module's exported calls.
 *
 * A shelf holds books (files, or every book in a folder). Each table of a
 * book that has keys is a database with a name of its own. A look-up gives
 * every entry of a word across the shelf, each once, in any letter case and,
 * as fallbacks marked as such, without accents and then, where Hunspell
 * knows the book's language, by the word's stems; a match lists the headwords
 * that a strategy selects (exact, prefix, nprefix, substring, suffix, re,
 * regexp, soundex, lev, word, first, last); a cursor walks a table's keys
 * from a word or a number. Every text handed out is UTF-8, converted from the
 * table's code page.
 *
 * Threads. One shelf may be used from many threads at once: every call takes
 * what it needs (an open book handle of its own, a read-only index) and
 * gives it back. A cursor or a result belongs to the thread that uses it.
 *
 * Memory. A table's keys are kept in memory once a call needs them all
 * (match strategies other than exact and prefix, the accent fallback,
 * suggestions); ZAVReaderDatabaseInfo.index_bytes tells how much a table
 * takes. Look-ups by the word's own spelling never load the key list.
 *
 * Errors. Every call that can fail carries a reason: a result's status and
 * reason say why it is incomplete, and an answer whose text cannot be read
 * carries a reason instead of a text. A reason is never an empty text.
 *
 * Strings handed out are owned by the object they came from and live as long
 * as it does.
 */
#ifndef ZAV_READER_H
#define ZAV_READER_H

#include <stddef.h>
#include <stdint.h>

#include "TovixZAV_JC.h"

#if defined(_WIN32)
#if defined(ZAV_READER_BUILDING)
#define ZAVR_API __declspec(dllexport)
#else
#define ZAVR_API __declspec(dllimport)
#endif
#elif defined(ZAV_READER_BUILDING)
#define ZAVR_API __attribute__((visibility("default")))
#else
#define ZAVR_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define ZAVR_VERSION_MAJOR 1
#define ZAVR_VERSION_MINOR 3

/* Status of a call or a result. */
typedef enum ZAVReaderStatus {
    ZAVR_OK = 0,
    ZAVR_NOT_FOUND = 1,    /* nothing answers: no such word, database or key */
    ZAVR_BAD_ARGUMENT = 2, /* a null or malformed argument, an unknown strategy */
    ZAVR_BAD_PATTERN = 3,  /* a pattern the strategy refuses (syntax, size) */
    ZAVR_UNREADABLE = 4,   /* a book, key or page could not be read */
    ZAVR_LIMIT = 5,        /* stopped at the result or byte limit asked for */
    ZAVR_TIME_OUT = 6,     /* stopped at the time limit asked for */
    ZAVR_CANCELLED = 7,    /* stopped because the caller's cancel flag was set */
    ZAVR_NO_MEMORY = 8
} ZAVReaderStatus;

/* How an answer was found. */
typedef enum ZAVReaderHow {
    ZAVR_HOW_EXACT = 0,   /* the key compares equal to the word under the key collation */
    ZAVR_HOW_CASE = 1,    /* equal once both are case folded (Unicode simple folding) */
    ZAVR_HOW_ACCENT = 2,  /* equal once accents and marks are taken off both */
    ZAVR_HOW_MATCH = 3,   /* selected by a match strategy */
    ZAVR_HOW_SUGGEST = 4, /* offered as a near spelling of a word not found */
    ZAVR_HOW_STEM = 5,    /* found as a form of a headword: the answer's headword is the lemma's entry */
    ZAVR_HOW_TEXT = 6     /* a hit of a full-text search */
} ZAVReaderHow;

typedef struct ZAVReaderShelf ZAVReaderShelf;
typedef struct ZAVReaderResult ZAVReaderResult;
typedef struct ZAVReaderCursor ZAVReaderCursor;

/* Limits of one call; every field 0 (or a null pointer) means no limit.
 * Pass NULL for none at all. */
typedef struct ZAVReaderLimits {
    uint32_t size;              /* sizeof(ZAVReaderLimits): fields past it are taken as 0 */
    uint32_t max_answers;       /* the most answers (matches: distinct headwords) */
    uint64_t max_bytes;         /* the most bytes of text in all answers */
    uint32_t time_ms;           /* stop after this many milliseconds */
    const volatile int *cancel; /* stop as soon as *cancel is not 0; another thread may set it
                                 * at any time (with an atomic store, e.g. __atomic_store_n) */
} ZAVReaderLimits;

/* --- the shelf ------------------------------------------------------------ */

/* The library's version: ZAVR_VERSION_MAJOR << 16 | ZAVR_VERSION_MINOR. A
 * host that lays out the structures below itself (ctypes, say) checks the
 * major number. */
ZAVR_API uint32_t ZAVReaderVersion(void);

/* A new, empty shelf; NULL when out of memory. */
ZAVR_API ZAVReaderShelf *ZAVReaderOpen(void);
/* Close every book and free the shelf, and the strings it handed out. Free
 * the shelf's cursors first; results do not depend on the shelf and may be
 * freed before or after. */
ZAVR_API void ZAVReaderClose(ZAVReaderShelf *shelf);

/* Add a book file, or every book of a folder (not recursing): every regular
 * file that starts with a book's mark; other files (dictionaries, memos,
 * notes) are not books and are passed over. A book that does not open, or
 * that has no table with keys, is recorded as a problem. `name`
 * (may be NULL) names the book's databases instead of its file name; it is
 * ignored for a folder. Returns the number of databases added (0 or more), or
 * -1 when nothing could be added. A database whose name is taken gets
 * "~2", "~3", ... after it. Not to be called while other threads use the
 * shelf; the strings ZAVReaderDatabase hands out stay valid across it. */
ZAVR_API int32_t ZAVReaderAdd(ZAVReaderShelf *shelf, const char *path, const char *name);

/* Problems met while adding or reopening books: a path and a reason each. */
ZAVR_API size_t ZAVReaderProblemCount(const ZAVReaderShelf *shelf);
ZAVR_API const char *ZAVReaderProblemPath(const ZAVReaderShelf *shelf, size_t index);
ZAVR_API const char *ZAVReaderProblemReason(const ZAVReaderShelf *shelf, size_t index);

/* What the shelf knows of one database. */
typedef struct ZAVReaderDatabaseInfo {
    const char *name;       /* the book's name (its file's, without the extension) for its first table
                             * with keys, "NAME.TABLE" for its other tables with keys */
    const char *path;       /* the book's file */
    const char *book_name;  /* the book's own name (UTF-8), or the database name */
    const char *table_name; /* the table's name (UTF-8), may be empty */
    int32_t table;          /* the table's index in its book */
    int32_t language;       /* the table's locale (its code page) */
    uint32_t kind;          /* the book's kind (1 dictionary, 2 plain, 4 prefixed) */
    uint32_t key_count;
    uint64_t index_bytes; /* memory the table's in-memory index takes now, 0 when not loaded */
} ZAVReaderDatabaseInfo;

ZAVR_API size_t ZAVReaderDatabaseCount(const ZAVReaderShelf *shelf);
/* ZAVR_OK, or ZAVR_NOT_FOUND when index is out of range. */
ZAVR_API int32_t ZAVReaderDatabase(const ZAVReaderShelf *shelf, size_t index, ZAVReaderDatabaseInfo *info);
/* The index of the database called `name`, or -1. */
ZAVR_API int64_t ZAVReaderFind(const ZAVReaderShelf *shelf, const char *name);

/* Load every database's in-memory index, and the Hunspell dictionaries of
 * its stem look-ups, now rather than at first need (a server may call this
 * from a thread of its own after it starts). */
ZAVR_API int32_t ZAVReaderPrepare(ZAVReaderShelf *shelf, const ZAVReaderLimits *limits);

/* --- stem look-ups --------------------------------------------------------- */

/* A database looks a word that is not found up by its stems (Hunspell's)
 * when it knows its headwords' language and a Hunspell dictionary for it is
 * installed: $ZAVREADER_HUNSPELL_DIR is searched first, then
 * /usr/share/hunspell. The language is the one the table's name, else the
 * book's name, else the book's file name says: a name that starts with a
 * language's name in English or in that language followed by a dash
 * ("German - English ...", "Deutsch-ελληνικά ..."), or that holds two
 * three-letter language codes joined by a dash ("freedict-deu-eng"); the
 * first language of such a pair is the headwords'. A host sets it with
 * ZAVReaderSetLanguage. Each dictionary is loaded once per shelf, at the
 * first word it stems, and shared by the databases of its language; its
 * calls are taken one at a time. A library built without Hunspell has stem
 * look-ups off everywhere. These calls, ZAVR_HOW_STEM and ZAVR_NO_STEM came
 * with version 1.2. */

/* Set the language of the database called `database` (NULL or "*": every
 * database): "de", "de_DE" or "de-DE" (a bare language takes its usual
 * region, de_DE, fr_FR, en_US, else the first dictionary of the language
 * by name), "" for no stem look-ups, NULL for the language the book's names
 * say. ZAVR_OK; ZAVR_NOT_FOUND for an unknown database, or when no Hunspell
 * dictionary answers for the language (stem look-ups are then off, and
 * ZAVReaderStemNote says why); ZAVR_BAD_ARGUMENT for a null shelf. Not to be
 * called while other threads use the shelf. */
ZAVR_API int32_t ZAVReaderSetLanguage(ZAVReaderShelf *shelf, const char *database, const char *language);

/* The Hunspell dictionary a database's stem look-ups use ("de_DE"), or NULL
 * when they are off. */
ZAVR_API const char *ZAVReaderStemLanguage(const ZAVReaderShelf *shelf, size_t database);

/* Where a database's stem language comes from and the dictionary's file, or
 * why stem look-ups are off (no language known, no Hunspell dictionary for
 * it, built without Hunspell, turned off by the host); NULL for an unknown
 * database. Valid until the database's language is set again. */
ZAVR_API const char *ZAVReaderStemNote(const ZAVReaderShelf *shelf, size_t database);

/* --- answers -------------------------------------------------------------- */

typedef struct ZAVReaderAnswer {
    size_t database;      /* the database's index on the shelf */
    uint32_t key_index;   /* the key that leads to the entry */
    const char *headword; /* the headword as stored (UTF-8), without spaces around it */
    const char *key;      /* the key as stored (UTF-8), homograph number included */
    int64_t page;         /* the table page */
    uint32_t offset;      /* where the entry starts in its page */
    uint32_t how;         /* a ZAVReaderHow */
    uint32_t distance;    /* lev and suggestions: edits from the word; else 0 */
    const char *text;     /* the entry's text (UTF-8), or NULL: not asked for, or unreadable */
    size_t text_length;
    const char *reason; /* why the text could not be read, or NULL */
} ZAVReaderAnswer;

/* Flags of ZAVReaderLookup. */
#define ZAVR_FIRST 0x1u     /* only the entry ZAVSearchKeyWord leads to, per database */
#define ZAVR_NO_ACCENT 0x2u /* no accent-insensitive fallback */
#define ZAVR_NO_TEXT 0x4u   /* answers without their texts */
#define ZAVR_NO_STEM 0x8u   /* no stem look-ups */

/* Every entry of `word` in the database called `database` (NULL or "*":
 * every database; "!": the first database that answers), each page and
 * offset once. Within a table the entry ZAVSearchKeyWord leads to comes
 * first, then the other keys equal under the key collation (homographs
 * too: "bank" finds bank, bank@1, bank@2), then those equal once case
 * folded. Only when none is found anywhere, entries equal once accents are
 * taken off (marked ZAVR_HOW_ACCENT). Only when none of these is found
 * anywhere either, in each database with stem look-ups on (see
 * ZAVReaderSetLanguage), the entries of the word's stems as Hunspell gives
 * them (at most 8, of a word of at most 100 bytes; a stem equal to the word
 * in any case is passed over), each looked up as a word is and each entry
 * once, marked ZAVR_HOW_STEM: "Häusern" finds haus. NULL only when out of
 * memory. */
ZAVR_API ZAVReaderResult *ZAVReaderLookup(ZAVReaderShelf *shelf, const char *database, const char *word, uint32_t flags,
                                          const ZAVReaderLimits *limits);

/* Headwords that `strategy` selects for `pattern`, each once per database,
 * in key order (lev: nearest first). Strategies: exact, prefix, nprefix,
 * substring, suffix, re (POSIX extended), regexp (POSIX basic), soundex,
 * lev, word, first, last. Letter case is ignored. Answers carry no text. */
ZAVR_API ZAVReaderResult *ZAVReaderMatch(ZAVReaderShelf *shelf, const char *database, const char *strategy,
                                         const char *pattern, const ZAVReaderLimits *limits);

/* The strategies, in the order a server lists them: name and description;
 * NULL past the end. */
ZAVR_API const char *ZAVReaderStrategyName(size_t index);
ZAVR_API const char *ZAVReaderStrategyDescription(size_t index);

/* Up to `count` headwords in all to offer for a word that is not found:
 * near spellings first (nearest first), then keys around the word's place;
 * each answer's distance is its edit distance from the word (letter case
 * ignored). */
ZAVR_API ZAVReaderResult *ZAVReaderSuggest(ZAVReaderShelf *shelf, const char *database, const char *word, size_t count,
                                           const ZAVReaderLimits *limits);

/* Up to `count` distinct headwords that start with `prefix` (any case), for
 * completion as a reader types, in key order. */
ZAVR_API ZAVReaderResult *ZAVReaderComplete(ZAVReaderShelf *shelf, const char *database, const char *prefix,
                                            size_t count, const ZAVReaderLimits *limits);

/* The entry of one key, with its text. */
ZAVR_API ZAVReaderResult *ZAVReaderEntry(ZAVReaderShelf *shelf, size_t database, uint32_t key_index);

/* The number of pages of a database's table; -1 for an unknown database or
 * a book that cannot be opened. */
ZAVR_API int64_t ZAVReaderPageCount(ZAVReaderShelf *shelf, size_t database);

/* A whole page of a database's table (sub < 0), or its sub page `sub`
 * (0 to 127: a dictionary entry's further contents, or in other books the
 * page's memo, sub page 127), as one answer with its page and text (in
 * UTF-8, as entry texts are; headword and key empty). ZAVR_NOT_FOUND when
 * the table has no such page or the page no such sub page, ZAVR_UNREADABLE
 * when the page cannot be read, ZAVR_LIMIT (and no answer) when its text is
 * longer than limits->max_bytes. */
ZAVR_API ZAVReaderResult *ZAVReaderPage(ZAVReaderShelf *shelf, size_t database, int64_t page, int32_t sub,
                                        const ZAVReaderLimits *limits);

ZAVR_API size_t ZAVReaderResultCount(const ZAVReaderResult *result);
ZAVR_API const ZAVReaderAnswer *ZAVReaderResultAt(const ZAVReaderResult *result, size_t index);
/* ZAVR_OK when the answer is whole; otherwise why it stops where it does
 * (answers before the stop are kept). */
ZAVR_API int32_t ZAVReaderResultStatus(const ZAVReaderResult *result);
/* The reason for a status that is not ZAVR_OK, else NULL. */
ZAVR_API const char *ZAVReaderResultReason(const ZAVReaderResult *result);
ZAVR_API void ZAVReaderResultFree(ZAVReaderResult *result);

/* --- full-text search ------------------------------------------------------ */

/* How ZAVReaderWriteIndex goes, and what it did. */
typedef struct ZAVReaderIndexing {
    uint32_t size;        /* sizeof(ZAVReaderIndexing) */
    const char *language; /* the texts' language ("en", "de", "german", ...): they are stemmed by its
                           * Snowball stemmer ("apples" finds apple); "": not stemmed; NULL: the second
                           * language of the pair the book's name says ("German - English": en), else
                           * the first; a language named here without a stemmer is ZAVR_NOT_FOUND */
    void (*progress)(void *context, uint64_t done, uint64_t total); /* a table's entries; may be NULL */
    void *context;
    const volatile int *cancel; /* stop as soon as *cancel is not 0 */
    uint64_t entries;           /* out: the entries indexed */
    uint64_t unreadable;        /* out: entries whose text could not be read; they are indexed by
                                 * their headwords, and the first hundred are the result's answers,
                                 * each with its reason */
} ZAVReaderIndexing;

/* Write the search index of the book of `database` (every table of it with
 * keys: each entry's headwords and text, folded for case and accents, runs
 * of CJK characters as overlapping pairs) to `path`, a new or empty file. The caller puts it in place, under the name
 * ZAVReaderIndexPath gives, once the call succeeds; a failed or cancelled
 * call may leave a part of it, which the caller removes. The index records
 * the book's state: once the book changes, it is not used. */
ZAVR_API ZAVReaderResult *ZAVReaderWriteIndex(ZAVReaderShelf *shelf, const char *database, const char *path,
                                              ZAVReaderIndexing *indexing);

/* The file the search index of the book at `book_path` is read from (the
 * book's path with ".search" after it): its length; up to `size` bytes of
 * it are written to `buffer`, NUL-terminated. */
ZAVR_API size_t ZAVReaderIndexPath(const char *book_path, char *buffer, size_t size);

/* Whether the database's book has an index to search: ZAVR_OK, ZAVR_NOT_FOUND
 * (none), or ZAVR_UNREADABLE (stale or damaged; the reason says which). */
ZAVR_API ZAVReaderResult *ZAVReaderIndexState(ZAVReaderShelf *shelf, size_t database);

/* The best `count` entries for `query` in the search indexes of the
 * databases `database` selects (as ZAVReaderLookup), best first: words in any
 * case or accents, "phrases", prefixes (appl*), AND, OR, NOT and
 * parentheses (any other character is a part of a word, never syntax). Each
 * answer is marked ZAVR_HOW_TEXT and has its entry's text; its snippet is
 * ZAVReaderResultSnippet's. A database whose book has no index, or a stale
 * one, does not answer, and the result's status and reason name the first
 * such book; ZAVR_BAD_PATTERN when the query has no word. */
ZAVR_API ZAVReaderResult *ZAVReaderSearch(ZAVReaderShelf *shelf, const char *database, const char *query, size_t count,
                                          const ZAVReaderLimits *limits);

/* The text around what a search's answer `index` matched (UTF-8, line breaks
 * as spaces, "…" where it is cut), or NULL for an answer of another call.
 * *marks gets *mark_count pairs of byte offsets (start, end) into it, one
 * pair for each matched word, in order. */
ZAVR_API const char *ZAVReaderResultSnippet(const ZAVReaderResult *result, size_t index, size_t *length,
                                            const uint32_t **marks, size_t *mark_count);

/* --- keys ------------------------------------------------------------------ */

/* A cursor on the keys of one database, in key order, from the first key not
 * before `word` (when not NULL), else from key `index`. NULL when out of
 * memory; a cursor on an unknown database or past the end yields nothing. */
ZAVR_API ZAVReaderCursor *ZAVReaderKeys(ZAVReaderShelf *shelf, size_t database, const char *word, uint32_t index);

typedef struct ZAVReaderKey {
    uint32_t index;
    const char *text;     /* UTF-8, valid until the cursor moves */
    const char *headword; /* the headword the key stands for (a case-fold key: its headword) */
    int64_t page;
    uint32_t offset;
    uint32_t attribute; /* the key's attribute byte (plain books) */
    uint32_t fold;      /* 1: a key added for a headword's case fold */
} ZAVReaderKey;

/* 1 with *key filled, 0 at the end, or a negative ZAVReaderStatus (the
 * cursor's reason then says why). */
ZAVR_API int32_t ZAVReaderNext(ZAVReaderCursor *cursor, ZAVReaderKey *key);
/* Many keys at once: up to `max_keys` key texts (UTF-8, each ended by a NUL)
 * written one after the other into buffer; a key that does not fit whole
 * ends the batch before it. Returns the number of keys written (0 at the
 * end), or a negative ZAVReaderStatus: -ZAVR_LIMIT when the next key alone
 * does not fit the buffer (the cursor stays on it: call again with a larger
 * one). *used gets the bytes written. */
ZAVR_API int64_t ZAVReaderNextBatch(ZAVReaderCursor *cursor, char *buffer, size_t size, size_t max_keys, size_t *used);
/* The index of the key the cursor yields next (the key count at the end),
 * or -1 for a cursor that failed. */
ZAVR_API int64_t ZAVReaderCursorPosition(const ZAVReaderCursor *cursor);
ZAVR_API const char *ZAVReaderCursorReason(const ZAVReaderCursor *cursor);
ZAVR_API void ZAVReaderCursorFree(ZAVReaderCursor *cursor);

/* Whether key `key` of a table, read by a host through its own handle, is one
 * added for a headword's case fold (a book made by the tool carries one
 * beside every headword whose Unicode case fold the key collation does not
 * make): `text` and `attribute` are the key's text and what ZAVGetKeyWord
 * returned for it, `kind` the book's kind. In a plain book the attribute
 * 0x46 says so; in a dictionary book, a key that is its own fold and whose
 * word record has sub content 0x46. 1 or 0. */
ZAVR_API int32_t ZAVReaderIsFoldKey(BookHandle book, uint32_t kind, int32_t table, uint32_t key, const char *text,
                                    int32_t attribute);

/* --- text ----------------------------------------------------------------- */

/* The fold a look-up compares words under, written into buffer as a
 * NUL-terminated UTF-8 text: 0 case (Unicode simple folding after NFC), 1
 * case and accents. Returns the length the fold needs (without the NUL);
 * buffer may be NULL when size is 0. Text that is not UTF-8 comes back as it
 * is. */
ZAVR_API size_t ZAVReaderFold(const char *text, int accents, char *buffer, size_t size);

#ifdef __cplusplus
}
#endif

#endif
