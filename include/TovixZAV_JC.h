/*
 * TovixZAV_JC.h -- the book-access module.
 *
 * The module opens read-only electronic book files ("DEBD" books) and answers
 * questions about them: book properties, pages, tables, a sorted key-word
 * index, a table-of-contents tree (the "virtual page" tree), and, for
 * dictionary books, contents, spell checking and sub pages served by the
 * dictionary engine library (ZoZizID) and page memos served by the memo
 * library (ZAVMemo).
 *
 * CAVEATS -- read these first
 *
 *  - No call validates its BookHandle. Every call except ZAVOpenBook needs a
 *    handle that ZAVOpenBook returned and that has not been passed to
 *    ZAVCloseBook. A null handle makes a call return its failure value; a
 *    closed (stale) handle is undefined behaviour.
 *  - Calls on one BookHandle must not overlap: every call moves the book's
 *    single file position. Calls on different handles are independent. The
 *    first memo call of a process loads the memo library without a lock, so
 *    the first memo calls must not overlap either.
 *  - Nothing is cached. Every call seeks and reads again what it needs, so
 *    asking the same question twice reads the file twice.
 *  - Most calls return 0 on failure, so a genuine 0 (page 0, key 0, an empty
 *    list, an attribute of 0) looks the same as a failure. The exceptions are
 *    named: ZAVOpenBook (ZAV_OPEN_* codes), ZAVBookSerial (-8),
 *    ZAVPageToKey and EBDVPItemToPage (-1).
 *  - Output written through a caller's pointer before a later step failed
 *    stays written. Raw copies (page data, extended book number, attribute and
 *    level blocks) carry no terminator; names and key texts are NUL-terminated
 *    and cut by bytes to the buffer length minus 1, which may split a
 *    double-byte character.
 *  - Text is 8-bit, in the ANSI multi-byte code page of its language. Only the
 *    path given to ZAVOpenBook is a wide string.
 *  - A book file is untrusted input: a damaged or hostile book makes calls
 *    return their failure value; it never makes them read outside the file,
 *    write past the caller's stated buffer length, or loop without end.
 *
 * Numbering: table numbers, book page numbers, table page indexes and key
 * indexes are 0-based. Virtual page item numbers are 1-based; 0 means "no
 * item" and item 1 is the root.
 *
 * Language codes (LanguageCode): 1 base text, 2 code page 936, 3 code page
 * 950, 4 code page 932, 5 code page 949. A language argument of 0 lets the
 * module choose: the DefaultLocale setting when it is 2 to 5, otherwise the
 * device's ANSI code page (932 -> 4, 936 -> 2, 949 -> 5, 950 -> 3, other -> 1).
 * A name call returns the language code of the text it copied, or 0. Its
 * choice: the first entry in the wanted language; failing that the last entry
 * in language 1; failing that the first entry of the list.
 */
#ifndef TOVIXZAV_JC_H
#define TOVIXZAV_JC_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define ZAV_CALL __stdcall
#else
#define ZAV_CALL
#endif

#if defined(TOVIXZAV_JC_BUILDING)
#if defined(_WIN32)
#define ZAV_API __declspec(dllexport)
#else
#define ZAV_API __attribute__((visibility("default")))
#endif
#elif defined(_WIN32) && !defined(TOVIXZAV_JC_STATIC)
#define ZAV_API __declspec(dllimport)
#else
#define ZAV_API
#endif

#ifdef __cplusplus
#define ZAV_NOEXCEPT noexcept
extern "C" {
#else
#define ZAV_NOEXCEPT
#endif

/** An open book. Opaque: hosts never look inside it. */
typedef struct ZAVBookState *BookHandle;

/** Results of ZAVOpenBook. */
#define ZAV_OPEN_OK 0            /**< the book is open; the handle was stored */
#define ZAV_OPEN_NO_MEMORY (-13) /**< no memory for the book's state */
#define ZAV_OPEN_BAD_FILE (-10)  /**< not opened, shorter than 512 bytes, or not a "DEBD" book */
#define ZAV_OPEN_BAD_KIND (-11)  /**< kind not 1, 2 or 4, or version above 1 */
/** Failure value of ZAVBookSerial. */
#define ZAV_SERIAL_FAILED (-8)
/** Failure value of ZAVPageToKey and EBDVPItemToPage. */
#define ZAV_NO_INDEX (-1)

/** Book kinds (the header's kind, ZAVGetCaps word 0). */
#define BOOK_KIND_DICTIONARY 1 /**< tables are dictionaries of the engine */
#define BOOK_KIND_PLAIN 2
#define BOOK_KIND_PREFIXED 4 /**< page records carry a link block */

/** Sub number of the page memo in books of kind 2 and 4. */
#define MEMO_SUB_NUMBER 127

/** Language codes. */
#define ZAV_LANG_CHOOSE 0
#define ZAV_LANG_BASE 1
#define ZAV_LANG_CP936 2
#define ZAV_LANG_CP950 3
#define ZAV_LANG_CP932 4
#define ZAV_LANG_CP949 5

/* ------------------------------------------------------------------ */
/* Book handle                                                         */
/* ------------------------------------------------------------------ */

/**
 * Open a book read-only (other readers may open it too; writers may not).
 * @param path  NUL-terminated wide path.
 * @param out   receives the handle, only when the result is ZAV_OPEN_OK.
 * @return ZAV_OPEN_OK, ZAV_OPEN_NO_MEMORY, ZAV_OPEN_BAD_FILE or
 *         ZAV_OPEN_BAD_KIND. A null path or out gives ZAV_OPEN_BAD_FILE.
 *         No memory and no file handle remain after a failed open.
 * The path is also kept in the ANSI code page (at most 255 bytes; a longer
 * one is kept as the empty string) for ZAVGetFileName.
 */
ZAV_API int32_t ZAV_CALL ZAVOpenBook(const wchar_t *path, BookHandle *out) ZAV_NOEXCEPT;

/**
 * Close a book: release its spell handle through the engine, close the file,
 * free the state. @return always 1 (also for a null handle, which does nothing).
 */
ZAV_API int32_t ZAV_CALL ZAVCloseBook(BookHandle book) ZAV_NOEXCEPT;

/**
 * The path the book was opened with, in the ANSI code page.
 * Copies the path and its terminator only when its length n is less than
 * length (so length 0 asks for the size). @return n in either case; 0 for a
 * null handle.
 */
ZAV_API int32_t ZAV_CALL ZAVGetFileName(BookHandle book, char *buffer, int32_t length) ZAV_NOEXCEPT;

/* ------------------------------------------------------------------ */
/* Book properties                                                     */
/* ------------------------------------------------------------------ */

/** The book name in `language` (0 = choose). @return its language code, or 0. */
ZAV_API int32_t ZAV_CALL ZAVGetBkName(BookHandle book, int32_t language, char *buffer, uint32_t length) ZAV_NOEXCEPT;

/**
 * Copy the 16-byte BookCaps: uint32 kind, version, capsWord1, capsWord2, in
 * that order, each in the host's byte order (so the header's bytes 4 to 19
 * as stored on a little-endian host). @return 1, or 0 with the block untouched.
 */
ZAV_API int32_t ZAV_CALL ZAVGetCaps(BookHandle book, void *caps) ZAV_NOEXCEPT;

/**
 * Copy the 84-byte default character attribute block, uninterpreted.
 * @return 1; 0 when absent or unreadable (a short read may leave part written).
 */
ZAV_API int32_t ZAV_CALL ZAVGetDefCharAttr(BookHandle book, void *block) ZAV_NOEXCEPT;

/** Store the book's serial. @return 0 on success, ZAV_SERIAL_FAILED (-8) with nothing stored. */
ZAV_API int32_t ZAV_CALL ZAVBookSerial(BookHandle book, uint32_t *serial) ZAV_NOEXCEPT;

/** Length of the extended book number, 0 to 255; 0 also when absent. */
ZAV_API int32_t ZAV_CALL ZAVExBookNoLength(BookHandle book) ZAV_NOEXCEPT;

/**
 * Copy the extended book number (no terminator). A buffer of exactly the
 * length is large enough. @return 1; 0 when absent, when the length exceeds
 * `length` (buffer untouched) or on a read failure.
 */
ZAV_API int32_t ZAV_CALL ZAVExBookNo(BookHandle book, char *buffer, int32_t length) ZAV_NOEXCEPT;

/** Number of languages the book lists, 0 to 255. */
ZAV_API int32_t ZAV_CALL ZAVGetLanguageCount(BookHandle book) ZAV_NOEXCEPT;

/** Language code at `index` (0-based) of the language list; 0 when out of range. */
ZAV_API int32_t ZAV_CALL ZAVGetLanguage(BookHandle book, int32_t index) ZAV_NOEXCEPT;

/** Number of tables, 0 to 255. */
ZAV_API int32_t ZAV_CALL ZAVGetTableCount(BookHandle book) ZAV_NOEXCEPT;

/** Number of shelf levels, 0 to 255. */
ZAV_API int32_t ZAV_CALL ZAVGetShelfLevel(BookHandle book) ZAV_NOEXCEPT;

/**
 * Shelf level `index`: stores its levelValue, then copies its name.
 * @return the name's language code, or 0. levelValue stays stored when the
 * name cannot be read; a level whose name offset is 0 has no name (0).
 */
ZAV_API int32_t ZAV_CALL ZAVGetShelfLevelInfo(BookHandle book, int32_t index, int32_t language, uint32_t *levelValue,
                                              char *buffer, uint32_t length) ZAV_NOEXCEPT;

/** The book's position id, as stored; 0 on failure. */
ZAV_API int32_t ZAV_CALL ZAVGetBookPositionID(BookHandle book) ZAV_NOEXCEPT;

/* ------------------------------------------------------------------ */
/* Pages                                                               */
/* ------------------------------------------------------------------ */

/** Number of pages in the book's page directory. */
ZAV_API int32_t ZAV_CALL ZAVGetPageCount(BookHandle book) ZAV_NOEXCEPT;

/** Size in bytes of book page `page` (0-based); 0 on failure. */
ZAV_API int32_t ZAV_CALL ZAVGetPageSize(BookHandle book, int32_t page) ZAV_NOEXCEPT;

/**
 * Copy book page `page` into buffer, cut at `length` bytes, no terminator;
 * bytes past the copy stay untouched. @return the bytes copied (compare with
 * ZAVGetPageSize to detect a cut); 0 on failure, for an empty page and for
 * length 0. A short read may leave part of the data written.
 */
ZAV_API int32_t ZAV_CALL ZAVGetPage(BookHandle book, int32_t page, void *buffer, uint32_t length) ZAV_NOEXCEPT;

/* ------------------------------------------------------------------ */
/* Tables                                                              */
/* ------------------------------------------------------------------ */

/** The table's locale byte, 0 to 255. */
ZAV_API int32_t ZAV_CALL ZAVGetTableLocal(BookHandle book, int32_t table) ZAV_NOEXCEPT;

/** The table name in `language`. @return its language code, or 0. */
ZAV_API int32_t ZAV_CALL ZAVGetTableName(BookHandle book, int32_t table, int32_t language, char *buffer,
                                         uint32_t length) ZAV_NOEXCEPT;

/**
 * The simple table name. Dictionary books use their own simple name when the
 * table has one (its result is final); otherwise, and in other books, the
 * table name. @return the language code, or 0.
 */
ZAV_API int32_t ZAV_CALL ZAVGetTableSimpleName(BookHandle book, int32_t table, int32_t language, char *buffer,
                                               uint32_t length) ZAV_NOEXCEPT;

/** The table's dictionary id (dictId). */
ZAV_API int32_t ZAV_CALL ZAVGetDictClass(BookHandle book, int32_t table) ZAV_NOEXCEPT;

/** Number of sub entries of the table. */
ZAV_API int32_t ZAV_CALL ZAVGetSubCount(BookHandle book, int32_t table) ZAV_NOEXCEPT;

/**
 * Sub entry `index` (below ZAVGetSubCount): stores its subId, then copies its
 * name. @return the name's language code, or 0 (subId stays stored when the
 * entry has no name or the name cannot be read).
 */
ZAV_API int32_t ZAV_CALL ZAVGetSubName(BookHandle book, int32_t table, int32_t index, uint32_t *subId, int32_t language,
                                       char *buffer, uint32_t length) ZAV_NOEXCEPT;

/**
 * Dictionary books only: 1 when `mask` shares a bit with the table's
 * application flags and the engine can open its dictionary; otherwise 0.
 */
ZAV_API int32_t ZAV_CALL ZAVIsAddInApp(BookHandle book, int32_t table, uint32_t mask) ZAV_NOEXCEPT;

/**
 * Dictionary books only: copy the 256-byte dictionary level record `index`
 * of the table, uninterpreted. @return 1, or 0 (no such record, other kinds).
 * No call reports the number of levels.
 */
ZAV_API int32_t ZAV_CALL ZAVGetDictLevelInfo(BookHandle book, int32_t table, int32_t index, void *block) ZAV_NOEXCEPT;

/** Number of table pages (dictionary books: the engine's word count). */
ZAV_API int32_t ZAV_CALL ZAVGetTablePageCount(BookHandle book, int32_t table) ZAV_NOEXCEPT;

/** Size of table page `index` (dictionary books: the engine's content size). */
ZAV_API int32_t ZAV_CALL ZAVGetTablePageSize(BookHandle book, int32_t table, uint32_t index) ZAV_NOEXCEPT;

/**
 * Copy table page `index` as ZAVGetPage does (dictionary books: the engine's
 * main content of word record `index`). @return bytes copied, or 0.
 */
ZAV_API int32_t ZAV_CALL ZAVGetTablePage(BookHandle book, int32_t table, uint32_t index, void *buffer,
                                         uint32_t length) ZAV_NOEXCEPT;

/* ------------------------------------------------------------------ */
/* Key words                                                           */
/* ------------------------------------------------------------------ */

/** Number of keys of the table (dictionary books: the engine's word count). */
ZAV_API int32_t ZAV_CALL ZAVGetKeyCount(BookHandle book, int32_t table) ZAV_NOEXCEPT;

/** Length in bytes of key `keyIndex`'s text. */
ZAV_API int32_t ZAV_CALL ZAVGetKeyWordLength(BookHandle book, int32_t table, uint32_t keyIndex) ZAV_NOEXCEPT;

/**
 * Copy key `keyIndex`'s text, NUL-terminated, cut to length - 1 bytes.
 * @return the key's attribute byte as a signed value (-128 to 127) in plain
 * books, the engine's result in dictionary books; 0 on failure. A length
 * below 1 writes nothing and returns 0.
 */
ZAV_API int32_t ZAV_CALL ZAVGetKeyWord(BookHandle book, int32_t table, uint32_t keyIndex, char *buffer,
                                       int32_t length) ZAV_NOEXCEPT;

/** Page the key leads to (dictionary books: the key index itself). */
ZAV_API int32_t ZAV_CALL ZAVGetKeyPageNo(BookHandle book, int32_t table, uint32_t keyIndex) ZAV_NOEXCEPT;

/**
 * Position within that page of the key's entry. Read from the table's key list
 * in every kind of book: a dictionary table answers only when its record holds
 * a key list and count in the fields plain tables use (otherwise 0).
 */
ZAV_API int32_t ZAV_CALL ZAVGetKeyPageOffset(BookHandle book, int32_t table, uint32_t keyIndex) ZAV_NOEXCEPT;

/** Key index of table page `pageIndex` (dictionary books: the index itself); -1 on failure. */
ZAV_API int32_t ZAV_CALL ZAVPageToKey(BookHandle book, int32_t table, uint32_t pageIndex) ZAV_NOEXCEPT;

/**
 * Look up the first `length` bytes of `word` under the key collation (case of
 * ASCII letters, leading and trailing spaces ignored; "word" also matches a
 * stored "word@1"). @return the matching key index, else the index of the
 * first key after the word, or the last key when the word sorts after all;
 * 0 on failure (also a word sorting before key 0). Dictionary books: the
 * engine's index of the word, 0 when not found. A null word or a negative
 * length gives 0 in every kind of book; a length past the word's terminator
 * stops at the terminator.
 */
ZAV_API int32_t ZAV_CALL ZAVSearchKeyWord(BookHandle book, int32_t table, const char *word,
                                          int32_t length) ZAV_NOEXCEPT;

/** 1 when the NUL-terminated `word` matches a key, else 0 (also for a null word). */
ZAV_API int32_t ZAV_CALL ZAVIsExistWord(BookHandle book, int32_t table, const char *word) ZAV_NOEXCEPT;

/* ------------------------------------------------------------------ */
/* Virtual page tree (table of contents)                               */
/* ------------------------------------------------------------------ */

/** Number of items the table records for its tree (as stored; not checked). */
ZAV_API int32_t ZAV_CALL EBDVPGetCount(BookHandle book, int32_t table) ZAV_NOEXCEPT;

/** Always 1, the root item. Reads nothing. */
ZAV_API int32_t ZAV_CALL EBDVPGetRootItem(BookHandle book, int32_t table) ZAV_NOEXCEPT;

/** 1 when the item has a first child (hidden or not), else 0. */
ZAV_API int32_t ZAV_CALL EBDVPItemHasChildren(BookHandle book, int32_t table, int32_t item) ZAV_NOEXCEPT;

/** The item's first child that is not hidden, or 0. */
ZAV_API int32_t ZAV_CALL EBDVPGetChildItem(BookHandle book, int32_t table, int32_t item) ZAV_NOEXCEPT;

/** The item's next sibling that is not hidden, or 0 (also for a cyclic chain). */
ZAV_API int32_t ZAV_CALL EBDVPGetNextSiblingItem(BookHandle book, int32_t table, int32_t item) ZAV_NOEXCEPT;

/** The item's caption in `language`, hidden items included. @return its language code, or 0. */
ZAV_API int32_t ZAV_CALL EBDVPGetItemText(BookHandle book, int32_t table, int32_t item, int32_t language, char *buffer,
                                          uint32_t length) ZAV_NOEXCEPT;

/** The item that belongs to page `page` (0 = none or failure). */
ZAV_API int32_t ZAV_CALL EBDVPPageToItem(BookHandle book, int32_t table, int32_t page) ZAV_NOEXCEPT;

/** The item's page, or -1 when it has none or on failure. */
ZAV_API int32_t ZAV_CALL EBDVPItemToPage(BookHandle book, int32_t table, int32_t item) ZAV_NOEXCEPT;

/** The item's parent, or 0 for a top-level item, item 0 or a cyclic chain. */
ZAV_API int32_t ZAV_CALL EBDVPGetParentItem(BookHandle book, int32_t table, int32_t item) ZAV_NOEXCEPT;

/* ------------------------------------------------------------------ */
/* Spell checking (dictionary books, spell-capable tables)             */
/* ------------------------------------------------------------------ */
/*
 * A table is spell-capable when its dictId has byte 0 = 1, byte 2 = 1 and
 * byte 3 = 0. The book keeps one engine spell handle, made on the first call
 * that gets that far from that call's table; ZAVCloseBook releases it. w, x
 * and z pass to the engine unchanged; only the low 8 bits of y do. Each call
 * returns the engine's result, or 0 when refused.
 */
ZAV_API int32_t ZAV_CALL EBDSCCorrection(BookHandle book, int32_t table, intptr_t w, intptr_t x,
                                         uint32_t y) ZAV_NOEXCEPT;
ZAV_API int32_t ZAV_CALL EBDSCVerify(BookHandle book, int32_t table, intptr_t w, intptr_t x) ZAV_NOEXCEPT;
ZAV_API int32_t ZAV_CALL EBDSCWildcard(BookHandle book, int32_t table, intptr_t w, intptr_t x, uint32_t y,
                                       intptr_t z) ZAV_NOEXCEPT;

/* ------------------------------------------------------------------ */
/* Sub pages                                                           */
/* ------------------------------------------------------------------ */
/*
 * Dictionary books: sub page `sub` of table page `index` is the engine
 * content dictId | (((sub & 0x7F) | 0x80) << 24) of word record `index`.
 * Other books: the only sub page is the page memo, sub MEMO_SUB_NUMBER (127),
 * served by the memo library found beside the module.
 */

/** 1 (other books) or the engine's answer when the sub page exists; 0 otherwise. */
ZAV_API int32_t ZAV_CALL ZAVIsExistSubPage(BookHandle book, int32_t table, int32_t sub, uint32_t index) ZAV_NOEXCEPT;

/** Size of the sub page, as the engine or the memo library reports it; 0 on failure. */
ZAV_API int32_t ZAV_CALL ZAVGetSubPageSize(BookHandle book, int32_t table, int32_t sub, uint32_t index) ZAV_NOEXCEPT;

/** Copy the sub page into buffer (at most `length` bytes); the engine's or memo library's result, 0 on failure. */
ZAV_API int32_t ZAV_CALL ZAVGetSubPage(BookHandle book, int32_t table, int32_t sub, uint32_t index, void *buffer,
                                       uint32_t length) ZAV_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* TOVIXZAV_JC_H */
