// The table calls: locale, names, dictionary id, sub entries, dictionary
// levels, add-in test and table pages. Plain books answer from the table's
// own lists; dictionary books (kind 1) ask the dictionary engine, opening the
// table's dictionary for the length of one call.
#include "../book/book_state.h"
#include "../book/process_state.h"
#include "../book/string_list.h"
#include "../bridge/engine.h"
#include "TovixZAV_JC.h"
#include "pages.h"

using namespace tovix;

namespace {

bool isDictionary(const BookState *book) { return book->kind == KIND_DICTIONARY; }

// The string list at `offset`, or 0 when the offset is 0 (no such name).
int32_t nameAt(BookState *book, uint32_t offset, int32_t language, char *buffer, uint32_t length) {
    if (offset == 0) return 0;
    return readStringList(&book->file, offset, wantedLanguage(language), buffer, length);
}

// The book page number that table page `index` of a plain table names.
bool plainTablePage(BookState *book, const TableRecord &record, uint32_t index, int32_t *page) {
    Section pages;
    uint32_t number;
    if (!tableList(&book->file, record, TBL_PAGE_LIST_OFFSET, record.field(TBL_PAGE_COUNT), &pages) ||
        !entryU32(&book->file, pages, index, 0, &number))
        return false;
    // Page numbers of 2^31 and above read as negative and are refused there.
    *page = static_cast<int32_t>(number);
    return true;
}

}  // namespace

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetTableLocal(BookHandle book, int32_t table) noexcept {
    TableRecord record;
    if (!book || !readTableRecord(&book->file, table, &record)) return 0;
    return record.locale();
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetTableName(BookHandle book, int32_t table, int32_t language, char *buffer,
                                                    uint32_t length) noexcept {
    TableRecord record;
    if (!book || !readTableRecord(&book->file, table, &record)) return 0;
    return nameAt(book, record.field(TBL_NAME_OFFSET), wantedLanguage(language), buffer, length);
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetTableSimpleName(BookHandle book, int32_t table, int32_t language,
                                                          char *buffer, uint32_t length) noexcept {
    TableRecord record;
    if (!book || !readTableRecord(&book->file, table, &record)) return 0;
    if (isDictionary(book)) {
        // A dictionary table's own simple name is final, even when it yields
        // no text: the table name is the fallback only for an absent one.
        uint32_t simple = record.field(TBL_SIMPLE_NAME_OFFSET);
        if (simple != 0) return readStringList(&book->file, simple, wantedLanguage(language), buffer, length);
    }
    return nameAt(book, record.field(TBL_NAME_OFFSET), wantedLanguage(language), buffer, length);
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetDictClass(BookHandle book, int32_t table) noexcept {
    TableRecord record;
    if (!book || !readTableRecord(&book->file, table, &record)) return 0;
    return static_cast<int32_t>(record.field(TBL_DICT_ID));
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetSubCount(BookHandle book, int32_t table) noexcept {
    TableRecord record;
    if (!book || !readTableRecord(&book->file, table, &record)) return 0;
    return static_cast<int32_t>(record.field(TBL_SUB_COUNT));
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetSubName(BookHandle book, int32_t table, int32_t index, uint32_t *subId,
                                                  int32_t language, char *buffer, uint32_t length) noexcept {
    TableRecord record;
    if (!book || !subId || !readTableRecord(&book->file, table, &record)) return 0;
    // The index is bounded by the table's sub count, so no entry is read
    // from past the end of the list.
    Section subs{record.field(TBL_SUB_LIST_OFFSET), SUB_ENTRY_SIZE, record.field(TBL_SUB_COUNT)};
    uint64_t entry;
    uint32_t id;
    uint32_t nameOffset;
    if (subs.offset == 0 || index < 0 || !entryPosition(&book->file, subs, static_cast<uint32_t>(index), &entry) ||
        !u32At(&book->file, entry + SUB_ID, &id))
        return 0;
    *subId = id;  // stays stored when the name cannot be had
    if (!u32At(&book->file, entry + SUB_NAME, &nameOffset)) return 0;
    return nameAt(book, nameOffset, wantedLanguage(language), buffer, length);
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVIsAddInApp(BookHandle book, int32_t table, uint32_t mask) noexcept {
    // Other kinds have no application flags: answered without reading.
    if (!book || !isDictionary(book)) return 0;
    TableRecord record;
    if (!readTableRecord(&book->file, table, &record)) return 0;
    if ((mask & record.field(TBL_APP_FLAGS)) == 0) return 0;
    engine::EngineRecord dictionary;
    return dictionary.openDictionary(record.field(TBL_DICT_ID)) ? 1 : 0;
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetDictLevelInfo(BookHandle book, int32_t table, int32_t index,
                                                        void *block) noexcept {
    if (!book || !block || !isDictionary(book)) return 0;
    // The level list stores no count; a negative index or an absent list is
    // refused rather than read from before the list or from the header.
    if (index < 0) return 0;
    TableRecord record;
    if (!readTableRecord(&book->file, table, &record)) return 0;
    Section levels;
    uint32_t position;
    if (!tableList(&book->file, record, TBL_DICT_LEVEL_LIST_OFFSET, kUnbounded, &levels) ||
        !entryU32(&book->file, levels, static_cast<uint32_t>(index), 0, &position) || position == 0)
        return 0;
    return readAt(&book->file, position, block, DICT_LEVEL_RECORD_SIZE) ? 1 : 0;
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetTablePageCount(BookHandle book, int32_t table) noexcept {
    TableRecord record;
    if (!book || !readTableRecord(&book->file, table, &record)) return 0;
    if (!isDictionary(book)) return static_cast<int32_t>(record.field(TBL_PAGE_COUNT));
    engine::EngineRecord dictionary;
    if (!dictionary.openDictionary(record.field(TBL_DICT_ID))) return 0;
    return static_cast<int32_t>(engine::dicGetWordCount(dictionary.hdict));
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetTablePageSize(BookHandle book, int32_t table, uint32_t index) noexcept {
    TableRecord record;
    if (!book || !readTableRecord(&book->file, table, &record)) return 0;
    if (!isDictionary(book)) {
        int32_t page;
        if (!plainTablePage(book, record, index, &page)) return 0;
        return pageSize(&book->file, page);
    }
    uint32_t dictId = record.field(TBL_DICT_ID);
    engine::EngineRecord word;
    if (!word.openRecord(dictId, index)) return 0;
    return engine::dicGetContentSize(word.hword, dictId);
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetTablePage(BookHandle book, int32_t table, uint32_t index, void *buffer,
                                                    uint32_t length) noexcept {
    TableRecord record;
    if (!book || !buffer || !readTableRecord(&book->file, table, &record)) return 0;
    if (!isDictionary(book)) {
        int32_t page;
        if (!plainTablePage(book, record, index, &page)) return 0;
        return copyPage(&book->file, page, buffer, length);
    }
    uint32_t dictId = record.field(TBL_DICT_ID);
    engine::EngineRecord word;
    if (!word.openRecord(dictId, index)) return 0;
    return engine::dicGetContent(word.hword, dictId, buffer, length);
}
