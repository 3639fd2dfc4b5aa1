// Sub pages of a table page. In a dictionary book a sub page is a further
// content of the engine's word record; in the other books the only sub page
// is the page's memo (MEMO_SUB_NUMBER), kept by the memo library.
#include "../book/book_state.h"
#include "TovixZAV_JC.h"
#include "engine.h"
#include "memo.h"

using namespace tovix;

namespace {

enum class SubPageQuery { Exists, Size, Content };

struct SubPageRequest {
    SubPageQuery query;
    void *buffer;
    uint32_t length;
};

int32_t dictionarySubPage(const TableRecord &record, int32_t sub, uint32_t index, const SubPageRequest &request) {
    uint32_t dictId = record.field(TBL_DICT_ID);
    engine::EngineRecord entry;  // frees the word record, then the dictionary
    if (!entry.openRecord(dictId, index)) return 0;
    uint32_t contentId = engine::subPageContentId(dictId, sub);
    if (request.query == SubPageQuery::Exists) return engine::dicIsExistContent(entry.hword, contentId);
    if (request.query == SubPageQuery::Size) return engine::dicGetContentSize(entry.hword, contentId);
    return engine::dicGetContent(entry.hword, contentId, request.buffer, request.length);
}

int32_t memoSubPage(BookHandle book, const TableRecord &record, int32_t sub, uint32_t index,
                    const SubPageRequest &request) {
    if (sub != MEMO_SUB_NUMBER) return 0;
    Section pages;
    uint32_t page;
    if (!tableList(&book->file, record, TBL_PAGE_LIST_OFFSET, record.field(TBL_PAGE_COUNT), &pages) ||
        !entryU32(&book->file, pages, index, 0, &page))
        return 0;
    // The memo library knows the book by the host's own handle.
    if (memo::CBIGetMemoNumber(book, page) == 0) return 0;
    if (request.query == SubPageQuery::Exists) return 1;
    // The entry point that frees the handle is found first: a handle is made
    // only when it can be freed.
    void *freeEntry = memo::memoSymbol("CBIFreeMemoHandle");
    if (!freeEntry) return 0;
    uintptr_t handle = memo::CBIGetMemoHandle(book, page, 0);
    if (handle == 0) return 0;
    int32_t result = request.query == SubPageQuery::Size
                         ? memo::CBIGetMemoSize(handle)
                         : memo::CBIGetMemoContent(handle, request.buffer, request.length);
    callEntry<decltype(&::CBIFreeMemoHandle)>(freeEntry, handle);
    return result;
}

int32_t subPage(BookHandle book, int32_t table, int32_t sub, uint32_t index, const SubPageRequest &request) {
    TableRecord record;
    if (!book || !readTableRecord(&book->file, table, &record)) return 0;
    if (book->kind == KIND_DICTIONARY) return dictionarySubPage(record, sub, index, request);
    return memoSubPage(book, record, sub, index, request);
}

}  // namespace

extern "C" ZAV_API int32_t ZAV_CALL ZAVIsExistSubPage(BookHandle book, int32_t table, int32_t sub,
                                                      uint32_t index) noexcept {
    return subPage(book, table, sub, index, {SubPageQuery::Exists, nullptr, 0});
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetSubPageSize(BookHandle book, int32_t table, int32_t sub,
                                                      uint32_t index) noexcept {
    return subPage(book, table, sub, index, {SubPageQuery::Size, nullptr, 0});
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetSubPage(BookHandle book, int32_t table, int32_t sub, uint32_t index,
                                                  void *buffer, uint32_t length) noexcept {
    if (!buffer) return 0;
    return subPage(book, table, sub, index, {SubPageQuery::Content, buffer, length});
}
