#include "core/book_health.h"

#include <cstdio>
#include <vector>

#include "core/raw_book.h"

namespace zavtool {

namespace {

// Items of each list that the quick look reads, spread evenly.
constexpr int64_t kSamples = 32;
constexpr uint32_t kLinkEntry = 4;

std::string pathOf(const HostBook &book) {
    char buffer[4096] = {};
    int32_t n = ZAVGetFileName(book, buffer, sizeof buffer);
    return n > 0 && n < static_cast<int32_t>(sizeof buffer) ? std::string(buffer) : std::string();
}

// Where book page `page`'s record says its data is, checked against the file.
Status bookPageFits(RawBook &raw, uint32_t page) {
    tovix::BookHeader header;
    if (!raw.header(&header)) return Failure{"the header cannot be read"};
    uint32_t dir = header.field(tovix::HDR_PAGE_DIR_OFFSET), count = 0, record = 0, size = 0;
    if (dir == 0 || !raw.u32At(dir, &count)) return Failure{"the page directory lies past the end of the file"};
    if (page >= count)
        return Failure{"book page " + std::to_string(page) + " is not in the page directory (" + std::to_string(count) +
                       " pages)"};
    if (!raw.u32At(dir + 4ull + 4ull * page, &record))
        return Failure{"the page directory is cut before book page " + std::to_string(page)};
    uint64_t at = record;
    if (header.field(tovix::HDR_KIND) == BOOK_KIND_PREFIXED) {
        uint16_t links = 0;
        if (!raw.u16At(at, &links)) at = raw.size() + 1;
        at += 2ull + static_cast<uint64_t>(links) * kLinkEntry;
    }
    if (!raw.u32At(at, &size) || !raw.fits(at + 4, size))
        return Failure{"book page " + std::to_string(page) + " lies past the end of the file (" +
                       std::to_string(raw.size()) + " bytes)"};
    return Status();
}

// An empty table page of a plain book: it passes when the file really holds
// it (or when the file cannot be opened again: nothing more is learnt).
Status emptyPlainPageIsSound(const HostBook &book, int32_t table, uint32_t index) {
    RawBook raw;
    tovix::TableRecord record;
    std::string path = pathOf(book);
    if (path.empty() || !raw.open(path)) return Status();
    if (!raw.table(table, &record)) return Failure{"the table record cannot be read"};
    uint32_t page = 0;
    if (!raw.listEntry(record.field(tovix::TBL_PAGE_LIST_OFFSET), index, &page))
        return Failure{"the page list of table " + std::to_string(table) + " is cut before page " +
                       std::to_string(index)};
    return bookPageFits(raw, page);
}

std::vector<int64_t> samples(int64_t count) {
    std::vector<int64_t> out;
    if (count <= 0) return out;
    int64_t step = count > kSamples ? count / kSamples : 1;
    for (int64_t i = 0; i < count; i += step) out.push_back(i);
    if (out.back() != count - 1) out.push_back(count - 1);
    return out;
}

}  // namespace

Result<std::string> readTablePage(const HostBook &book, int32_t table, int64_t index) {
    Result<std::string> page = readPage(book, table, index);
    if (!page || !page->empty() || book.isDictionary() || index < 0) return page;
    if (Status sound = emptyPlainPageIsSound(book, table, static_cast<uint32_t>(index)); !sound)
        return Failure{"page " + std::to_string(index) + " of table " + std::to_string(table) +
                       " cannot be read: " + sound.reason()};
    return page;
}

Status dictionaryServed(const HostBook &book, int32_t table) {
    if (!book.isDictionary() || ZAVGetKeyCount(book, table) > 0) return Status();
    char id[16];
    std::snprintf(id, sizeof id, "0x%08X", static_cast<uint32_t>(ZAVGetDictClass(book, table)));
    return Failure{"table " + std::to_string(table) + " shows no words: the dictionary engine cannot open dictionary " +
                   id + " (set ZOZIZID_DICT_DIR to the folder that holds it)"};
}

std::vector<std::string> bookProblems(const HostBook &book) {
    std::vector<std::string> problems;
    for (int32_t t = 0; t < book.tableCount(); ++t) {
        for (int64_t k : samples(static_cast<uint32_t>(ZAVGetKeyCount(book, t)))) {
            std::string text;
            int32_t result = 0, length = 0;
            if (!readKeyWord(book, t, static_cast<uint32_t>(k), &text, &result, &length)) {
                problems.push_back("key " + std::to_string(k) + " of table " + std::to_string(t) + " cannot be read");
                break;
            }
        }
        for (int64_t p : samples(static_cast<uint32_t>(ZAVGetTablePageCount(book, t)))) {
            if (Result<std::string> page = readTablePage(book, t, p); !page) {
                problems.push_back(page.reason());
                break;
            }
        }
    }
    int32_t pages = ZAVGetPageCount(book);
    for (int64_t p : samples(pages)) {
        if (Result<std::string> page = readPage(book, -1, p); !page) {
            problems.push_back(page.reason());
            break;
        }
    }
    return problems;
}

}  // namespace zavtool
