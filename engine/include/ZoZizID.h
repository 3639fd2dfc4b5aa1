/*
 * ZoZizID: the dictionary engine of the book module.
 *
 * The engine holds the word records of dictionary books and a spell checker
 * over the same words. The book module (libTovixZAV_JC) loads it by its bare
 * library name (libZoZizID.so on POSIX systems, ZoZizID.dll on Windows) and
 * looks every entry point up by name; a host may also call it directly.
 *
 * Dictionaries
 * ------------
 * A dictionary is one file per dictionary id (dictId, the 32-bit id a
 * dictionary book's table names). The file of dictId is named by eight
 * lower-case hex digits and ".zzd" ("0001ab01.zzd" for 0x0001AB01) and is
 * looked for in one folder:
 *   - the folder named by the environment variable ZOZIZID_DICT_DIR, read at
 *     every dicCreateHDICT / SCCreateHandleEx, when it is set and not empty;
 *   - otherwise the folder "dictionaries" beside the engine library itself
 *     (for /opt/x/lib/libZoZizID.so: /opt/x/lib/dictionaries).
 * Dictionary files are written with the writer in ZoZizID_writer.h.
 *
 * Word records
 * ------------
 * Records are numbered 0 to count - 1 and sorted under the book module's key
 * collation: ASCII letter case ignored, leading spaces and the spaces that
 * end a word ignored, single-byte characters (0x01-0x7F) before double-byte
 * characters (a lead byte 0x80-0xFF and the byte after it, ordered by their
 * raw bytes), and a final "@" with a number taken as a homograph number
 * ordered numerically: bank < bank@1 < bank@2 < bank@10 < banks.
 * Each record has its word (1 to 65535 bytes) and any number of contents,
 * each a byte string selected by a 32-bit content id. The book module reads
 * the main content of a record under the content id equal to the dictId,
 * and sub page `sub` under dictId | (((sub & 0x7F) | 0x80) << 24).
 *
 * File layout (version 1; integers little-endian; offsets absolute)
 * -----------------------------------------------------------------
 *   header, 48 bytes:
 *     +0  "ZZID"         +4  u32 version (1)   +8  u32 header size (48)
 *     +12 u32 dictId     +16 u32 word count    +20 u32 index offset
 *     +24 u32 word list offset                 +28 u32 word list size
 *     +32 u32 record area offset               +36 u32 record area size
 *     +40 u32 file size  +44 u32 reserved (0)
 *   index: word count entries of 8 bytes, in record order:
 *     u32 offset of the record's word (in the word list),
 *     u32 offset of the record's content table (in the record area)
 *   word list: per record, in record order: u16 length, the word's bytes
 *   record area: per record: u32 content count (at most 1024), then per
 *     content u32 content id, u32 data offset, u32 data length (ascending
 *     content ids), and the data, which lies inside the record area.
 * The engine keeps dictionaries in memory between handles, in a cache
 * shared by the whole process: a file of at most 64 MiB whole, of a larger
 * one its index and word list (when the two take at most 256 MiB; a larger
 * dictionary is searched on disk), so that opening a dictionary again and
 * searching it costs one look at the file's stamp and no read. Handles on
 * a dictionary that is not kept whole open the file, which is closed with
 * the last handle that uses that open. What is kept is dropped when the
 * file's identity (device and file number; on Windows its creation time),
 * size or modification time differs from the file's when it was read, when
 * the cache is full (64 dictionaries, or 1 GiB held) and when the engine is
 * unloaded: a file replaced, or rewritten with another size or time, is read
 * afresh. Content bytes are copied into the caller's buffer. dicCreateHDICT
 * refuses (returns 0) a file whose magic, version, header size or dictId is
 * wrong, whose stored size is not its actual size, or whose index, word list
 * or record area does not lie inside it. Every word, content table and
 * content is checked against its section when it is read: a damaged record
 * makes the call that reads it fail, never read outside the file.
 *
 * Handles and caveats
 * -------------------
 * HDICT, HWORD and spell handles are pointer-sized unsigned integers; 0 means
 * none. Every handle must be freed with its own free call once; freeing 0 is
 * harmless and returns 0. An HWORD stays usable after its HDICT is freed
 * (the file is closed with the last handle that uses it). Passing a handle
 * of another kind is detected and refused; passing a freed or invented
 * handle is undefined. Calls on different handles may run on different
 * threads at once (the cache of dictionaries is guarded by a lock); calls
 * on one handle must not overlap with its free call.
 * Every text argument is NUL-terminated; a null pointer makes the call
 * return 0. No call writes past the length it is given.
 */
#ifndef ZOZIZID_H
#define ZOZIZID_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define ZOZIZID_CALL __stdcall
#else
#define ZOZIZID_CALL
#endif

#if defined(ZOZIZID_BUILDING)
#if defined(_WIN32)
#define ZOZIZID_API __declspec(dllexport)
#else
#define ZOZIZID_API __attribute__((visibility("default")))
#endif
#elif defined(_WIN32)
#define ZOZIZID_API __declspec(dllimport)
#else
#define ZOZIZID_API
#endif

#ifdef __cplusplus
#define ZOZIZID_NOEXCEPT noexcept
extern "C" {
#else
#define ZOZIZID_NOEXCEPT
#endif

/** The environment variable naming the dictionary folder. */
#define ZOZIZID_DICT_DIR_ENV "ZOZIZID_DICT_DIR"
/** dicGetHandleInfo: ask for the record index of an HWORD. */
#define ZOZIZID_INFO_RECORD_INDEX 1
/** dicGetHandleInfo: ask for the bytes the engine holds in memory for the
 *  dictionary of an HDICT or HWORD (its index and word list, when kept). */
#define ZOZIZID_INFO_MEMORY 2
/** Size of one result slot of SCCorrection, terminator included. */
#define ZOZIZID_SLOT_SIZE 256

/* ------------------------------------------------------------------ */
/* Dictionaries                                                        */
/* ------------------------------------------------------------------ */

/**
 * Open dictionary dictId: the file of that id in the dictionary folder.
 * @return an HDICT, or 0 when the file is missing, unreadable or refused
 *         (see "File layout"), or no memory is left.
 */
ZOZIZID_API uintptr_t ZOZIZID_CALL dicCreateHDICT(uint32_t dictId) ZOZIZID_NOEXCEPT;

/** Free an HDICT. @return 1, or 0 for 0 or a handle of another kind. */
ZOZIZID_API int32_t ZOZIZID_CALL dicFreeHDICT(uintptr_t hdict) ZOZIZID_NOEXCEPT;

/** @return the number of word records, 0 for a bad handle. */
ZOZIZID_API uint32_t ZOZIZID_CALL dicGetWordCount(uintptr_t hdict) ZOZIZID_NOEXCEPT;

/**
 * Open word record `index` (0-based).
 * @return an HWORD, or 0 when index is not below the word count, the record
 *         is damaged, or no memory is left.
 */
ZOZIZID_API uintptr_t ZOZIZID_CALL dicSearchRecord(uintptr_t hdict, uint32_t index) ZOZIZID_NOEXCEPT;

/**
 * Find a word by bisection under the key collation and open its record.
 * The record found is the first one (lowest index) that matches the word
 * the way a book's key search matches: it compares equal to the word, or it
 * is the homograph 1 of the word ("bank@1" and "bank @1" match "bank";
 * "bank@2" does not; "bank@2" matches only "bank@2" and its case variants).
 * @return an HWORD, or 0 when no record matches, word is null, or the
 *         dictionary is damaged where the search reads it.
 */
ZOZIZID_API uintptr_t ZOZIZID_CALL dicSearchWord(uintptr_t hdict, const char *word) ZOZIZID_NOEXCEPT;

/**
 * Information about a handle. what = ZOZIZID_INFO_RECORD_INDEX (1) with an
 * HWORD stores the record index in *value; what = ZOZIZID_INFO_MEMORY (2)
 * with an HDICT or HWORD stores the bytes held in memory for its dictionary
 * (capped at 0xFFFFFFFF). Both return 1. Any other what, a null value or a
 * handle of another kind returns 0 and writes nothing.
 */
ZOZIZID_API int32_t ZOZIZID_CALL dicGetHandleInfo(uintptr_t handle, int32_t what, uint32_t *value) ZOZIZID_NOEXCEPT;

/** Free an HWORD. @return 1, or 0 for 0 or a handle of another kind. */
ZOZIZID_API int32_t ZOZIZID_CALL dicFreeHWORD(uintptr_t hword) ZOZIZID_NOEXCEPT;

/** @return 1 when dicSearchWord would find the word, else 0. */
ZOZIZID_API int32_t ZOZIZID_CALL dicIsExistWord(uintptr_t hdict, const char *word) ZOZIZID_NOEXCEPT;

/** @return the length in bytes of the record's word (at least 1), 0 for a bad handle. */
ZOZIZID_API int32_t ZOZIZID_CALL dicGetWordSize(uintptr_t hword) ZOZIZID_NOEXCEPT;

/**
 * Copy the record's word, NUL-terminated, cut to length - 1 bytes.
 * @return the full length of the word (so a result above length - 1 means
 *         the copy was cut); 0, with nothing written, for a bad handle, a
 *         null buffer or a length below 1.
 */
ZOZIZID_API int32_t ZOZIZID_CALL dicGetWord(uintptr_t hword, char *buffer, int32_t length) ZOZIZID_NOEXCEPT;

/** @return 1 when the record has a content with this id, else 0. */
ZOZIZID_API int32_t ZOZIZID_CALL dicIsExistContent(uintptr_t hword, uint32_t contentId) ZOZIZID_NOEXCEPT;

/** @return the size in bytes of the content, 0 when absent (or empty). */
ZOZIZID_API int32_t ZOZIZID_CALL dicGetContentSize(uintptr_t hword, uint32_t contentId) ZOZIZID_NOEXCEPT;

/**
 * Copy at most length bytes of the content into buffer (no terminator).
 * @return the number of bytes copied; 0 when the content is absent or
 *         empty, buffer is null, or the file cannot be read (part of the
 *         bytes may have been written then).
 */
ZOZIZID_API int32_t ZOZIZID_CALL dicGetContent(uintptr_t hword, uint32_t contentId, void *buffer,
                                               uint32_t length) ZOZIZID_NOEXCEPT;

/* ------------------------------------------------------------------ */
/* Spell checking                                                      */
/* ------------------------------------------------------------------ */
/*
 * The spell checker works on headwords: a record's word without leading
 * spaces, without its homograph suffix ("@" and what follows) and without
 * the spaces before it. Headwords that compare equal under the key
 * collation (bank@1, bank@2, Bank) count as one, reported in the spelling
 * of the first record. A character is one byte below 0x80, or a lead byte
 * and its trail byte; ASCII letters match without regard to case.
 * The host values: W, X and Z are pointer-sized (intptr_t), Y is 8 bits.
 */

/** Open dictionary dictId for spell checking. @return a spell handle, 0 on failure. */
ZOZIZID_API uintptr_t ZOZIZID_CALL SCCreateHandleEx(uint32_t dictId) ZOZIZID_NOEXCEPT;

/** Free a spell handle. @return 1, or 0 for 0 or a handle of another kind. */
ZOZIZID_API int32_t ZOZIZID_CALL SCFreeHandle(uintptr_t spell) ZOZIZID_NOEXCEPT;

/**
 * Spelling suggestions.
 * @param w  (const char *) the word; its headword is corrected (at most 255
 *           bytes, not empty, else the call returns 0).
 * @param x  (char *) output: y slots of ZOZIZID_SLOT_SIZE (256) bytes, so it
 *           must hold y * 256 bytes. Slot i holds suggestion i, NUL-terminated,
 *           cut at a character boundary to at most 255 bytes. Slots past the
 *           result are not touched.
 * @param y  the most suggestions wanted (0 returns 0, nothing written).
 * @return the number of suggestions written: the headwords whose edit
 *         distance from the word (insertions, deletions, substitutions of
 *         one character) is at most 1 for words of 1-4 characters, 2 for
 *         5-8 characters and 3 for longer words; best first (smallest
 *         distance, then dictionary order). A correctly spelled word is its
 *         own first suggestion. 0 for null pointers or a bad handle.
 * Cost: one sequential read of the word list (64 KiB at a time); a headword
 * whose length differs from the word's by more than the allowed distance is
 * skipped unseen, the others cost at most (2d + 1) x length steps (d the
 * allowed distance), stopping as soon as the distance is exceeded.
 */
ZOZIZID_API int32_t ZOZIZID_CALL SCCorrection(uintptr_t spell, intptr_t w, intptr_t x, uint8_t y) ZOZIZID_NOEXCEPT;

/**
 * Verify the spelling of a word.
 * @param w  (const char *) the word.
 * @param x  unused, pass 0.
 * @return 1 when a record compares equal to the word under the key
 *         collation, or when the word carries no homograph number and a
 *         record's headword compares equal to it ("bank" is verified by a
 *         dictionary holding only "bank@2"); else 0. 0 for null pointers.
 * Cost: one bisection of the dictionary.
 */
ZOZIZID_API int32_t ZOZIZID_CALL SCVerify(uintptr_t spell, intptr_t w, intptr_t x) ZOZIZID_NOEXCEPT;

/**
 * List the headwords that match a pattern.
 * @param w  (const char *) the pattern, at most 255 bytes: "*" matches any
 *           run of characters (also none), "?" exactly one character, any
 *           other character itself (ASCII letters without regard to case).
 *           The whole headword must match.
 * @param x  (char *) output buffer of z bytes: the matching headwords in
 *           dictionary order, each followed by a NUL, and one more NUL ending
 *           the list. Only whole words are written: the listing stops before
 *           the first word that would not fit together with the final NUL.
 * @param y  the most words wanted; 0 writes the empty list.
 * @param z  the size of x in bytes; below 1 nothing is written and 0 returned.
 * @return the number of words written; 0 for null pointers, a bad handle or
 *         a pattern over 255 bytes (the empty list is written then when x
 *         and z allow it).
 * Cost: one sequential read of the word list; matching a headword of n
 * characters against a pattern of m characters takes at most n x m steps.
 */
ZOZIZID_API int32_t ZOZIZID_CALL SCWildcard(uintptr_t spell, intptr_t w, intptr_t x, uint8_t y,
                                            intptr_t z) ZOZIZID_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
