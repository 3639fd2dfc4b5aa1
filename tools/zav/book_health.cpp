#include "book_health.h"

#include <cstdio>
#include <vector>

#include "key_reader.h"
#include "raw_book.h"

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
bool bookPageFits(RawBook &raw, uint32_t page, std::string *why) {
    tovix::BookHeader header;
    if (!raw.header(&header)) {
        *why = "the header cannot be read";
        return false;
    }
    uint32_t dir = header.field(tovix::HDR_PAGE_DIR_OFFSET), count = 0, record = 0, size = 0;
    if (dir == 0 || !raw.u32At(dir, &count)) {
        *why = "the page directory lies past the end of the file";
        return false;
    }
    if (page >= count) {
        *why =
            "book page " + std::to_string(page) + " is not in the page directory (" + std::to_string(count) + " pages)";
        return false;
    }
    if (!raw.u32At(dir + 4ull + 4ull * page, &record)) {
        *why = "the page directory is cut before book page " + std::to_string(page);
        return false;
    }
    uint64_t at = record;
    if (header.field(tovix::HDR_KIND) == BOOK_KIND_PREFIXED) {
        uint16_t links = 0;
        if (!raw.u16At(at, &links)) at = raw.size() + 1;
        at += 2ull + static_cast<uint64_t>(links) * kLinkEntry;
    }
    if (!raw.u32At(at, &size) || !raw.fits(at + 4, size)) {
        *why = "book page " + std::to_string(page) + " lies past the end of the file (" + std::to_string(raw.size()) +
               " bytes)";
        return false;
    }
    return true;
}

// An empty table page of a plain book: true when the file really holds it.
bool emptyPlainPageIsSound(const HostBook &book, int32_t table, uint32_t index, std::string *why) {
    RawBook raw;
    tovix::TableRecord record;
    std::string path = pathOf(book);
    if (path.empty() || !raw.open(path, why)) return true;  // nothing more to learn
    if (!raw.table(table, &record)) {
        *why = "the table record cannot be read";
        return false;
    }
    uint32_t page = 0;
    if (!raw.listEntry(record.field(tovix::TBL_PAGE_LIST_OFFSET), index, &page)) {
        *why = "the page list of table " + std::to_string(table) + " is cut before page " + std::to_string(index);
        return false;
    }
    return bookPageFits(raw, page, why);
}

std::string tablePageName(int32_t table, int64_t index) {
    return "page " + std::to_string(index) + " of table " + std::to_string(table);
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

PageRead readTablePage(const HostBook &book, int32_t table, int64_t index) {
    PageRead result;
    result.content = readPage(book, table, index);
    std::string why;
    if (!result.content) {
        result.error = tablePageName(table, index) + " cannot be read";
    } else if (result.content->empty() && !book.isDictionary() && index >= 0 &&
               !emptyPlainPageIsSound(book, table, static_cast<uint32_t>(index), &why)) {
        result.content.reset();
        result.error = tablePageName(table, index) + " cannot be read: " + why;
    }
    return result;
}

bool dictionaryServed(const HostBook &book, int32_t table, std::string *why) {
    if (!book.isDictionary() || ZAVGetKeyCount(book, table) > 0) return true;
    char id[16];
    std::snprintf(id, sizeof id, "0x%08X", static_cast<uint32_t>(ZAVGetDictClass(book, table)));
    *why = "table " + std::to_string(table) + " shows no words: the dictionary engine cannot open dictionary " + id +
           " (set ZOZIZID_DICT_DIR to the folder that holds it)";
    return false;
}

std::vector<std::string> bookProblems(const HostBook &book) {
    std::vector<std::string> problems;
    for (int32_t t = 0; t < book.tableCount(); ++t) {
        KeyReader keys(book, t);
        for (int64_t k : samples(keys.count())) {
            if (!keys.text(static_cast<uint32_t>(k))) {
                problems.push_back(keys.error());
                break;
            }
        }
        for (int64_t p : samples(static_cast<uint32_t>(ZAVGetTablePageCount(book, t)))) {
            PageRead page = readTablePage(book, t, p);
            if (!page.content) {
                problems.push_back(page.error);
                break;
            }
        }
    }
    int32_t pages = ZAVGetPageCount(book);
    for (int64_t p : samples(pages)) {
        if (!readPage(book, -1, p)) {
            problems.push_back("book page " + std::to_string(p) + " cannot be read");
            break;
        }
    }
    return problems;
}

}  // namespace zavtool
