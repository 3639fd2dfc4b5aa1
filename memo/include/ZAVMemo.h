/*
 * ZAVMemo: the memo library of the book module.
 *
 * Keeps memos attached to the pages of a book. The book module
 * (libTovixZAV_JC) loads it on first need from its own folder
 * (libZAVMemo.so beside libTovixZAV_JC.so; ZAVMemo.dll on Windows) and
 * serves a page's memo to the host as sub page 127 of the page.
 *
 * Storage
 * -------
 * The memos of a book live beside it, in the sidecar file "<book path>.memo"
 * (book.zav -> book.zav.memo), written with the writer in ZAVMemo_writer.h.
 * The library learns the book's path from the BookHandle by calling the book
 * module's ZAVGetFileName in the copy of the module that is already loaded in
 * the process (it never loads one). Without a loaded module, a path, or a
 * sidecar, a book has no memos.
 *
 * Sidecar layout (version 1; integers little-endian; offsets absolute):
 *   +0  "ZMEM"   +4 u32 version (1)   +8 u32 memo count   +12 u32 file size
 *   +16 memo count entries of 12 bytes, ascending by page:
 *       u32 book page number, u32 text offset, u32 text length
 *   the texts (bytes in the book's code page, no terminator).
 * A page may have several memos; they keep the order of the entries. Every
 * call reads the sidecar afresh with bounded positioned reads: a file whose
 * magic, version or stored size is wrong, or whose entry table does not fit,
 * has no memos; an entry whose text lies outside the file or is longer than
 * 1 MiB makes the calls that need it fail. Nothing is cached.
 *
 * Caveats: a memo handle is a pointer-sized unsigned integer, 0 = none; free
 * each one once with CBIFreeMemoHandle (0 is harmless). A handle holds its
 * memo's text: later changes to the sidecar do not reach it. Calls are
 * independent of each other and may run on different threads, except on
 * one memo handle together with its free call. Text sizes are bytes.
 */
#ifndef ZAVMEMO_H
#define ZAVMEMO_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define ZAVMEMO_CALL __stdcall
#else
#define ZAVMEMO_CALL
#endif

#if defined(ZAVMEMO_BUILDING)
#if defined(_WIN32)
#define ZAVMEMO_API __declspec(dllexport)
#else
#define ZAVMEMO_API __attribute__((visibility("default")))
#endif
#elif defined(_WIN32)
#define ZAVMEMO_API __declspec(dllimport)
#else
#define ZAVMEMO_API
#endif

#ifdef __cplusplus
#define ZAVMEMO_NOEXCEPT noexcept
extern "C" {
#else
#define ZAVMEMO_NOEXCEPT
#endif

/** An open book of the book module (the same type as in TovixZAV_JC.h). */
typedef struct ZAVBookState *BookHandle;

/** The suffix of the sidecar file added to the book's path. */
#define ZAVMEMO_SIDECAR_SUFFIX ".memo"
/** The longest memo text, in bytes. */
#define ZAVMEMO_MAX_MEMO (1 << 20)
/** The most text one memo handle holds (all memos of a page joined). */
#define ZAVMEMO_MAX_JOINED (16 << 20)

/**
 * @param book  the host's handle of an open book.
 * @param page  a book page number.
 * @return the number of memos on the page; 0 when it has none, for a null
 *         book, or when the sidecar is missing or damaged.
 */
ZAVMEMO_API int32_t ZAVMEMO_CALL CBIGetMemoNumber(BookHandle book, uint32_t page) ZAVMEMO_NOEXCEPT;

/**
 * Read memos of a page into a new handle.
 * @param which  0: all memos of the page, in their order, joined by one line
 *               feed (0x0A) between two memos (the book module passes 0);
 *               n >= 1: only the n-th memo of the page.
 * @return the memo handle; 0 when the page has no such memo, which is
 *         negative, a text cannot be read, the joined text would exceed
 *         ZAVMEMO_MAX_JOINED bytes, or no memory is left.
 */
ZAVMEMO_API uintptr_t ZAVMEMO_CALL CBIGetMemoHandle(BookHandle book, uint32_t page, int32_t which) ZAVMEMO_NOEXCEPT;

/** @return the size in bytes of the handle's text (0 for an empty memo or handle 0). */
ZAVMEMO_API int32_t ZAVMEMO_CALL CBIGetMemoSize(uintptr_t memo) ZAVMEMO_NOEXCEPT;

/**
 * Copy at most length bytes of the handle's text into buffer, without a
 * terminator.
 * @return the number of bytes copied; 0 for handle 0, a null buffer, a
 *         length of 0 or an empty text.
 */
ZAVMEMO_API int32_t ZAVMEMO_CALL CBIGetMemoContent(uintptr_t memo, void *buffer, uint32_t length) ZAVMEMO_NOEXCEPT;

/** Free a memo handle. @return 1, or 0 for handle 0 or one that is not a memo handle. */
ZAVMEMO_API int32_t ZAVMEMO_CALL CBIFreeMemoHandle(uintptr_t memo) ZAVMEMO_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
