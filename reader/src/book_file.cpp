#include "book_file.h"

#include <algorithm>

namespace zavreader {

using namespace tovix;

BookFile::~BookFile() {
    if (file_) std::fclose(file_);
}

bool BookFile::open(const std::string &path, uint64_t size) {
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) return false;
    size_ = std::min<uint64_t>(size, BOOK_MAX_FILE_SIZE);
    return read(0, header_.bytes, BOOK_HEADER_SIZE) && header_.field(HDR_MAGIC) == BOOK_MAGIC;
}

bool BookFile::read(uint64_t at, void *into, size_t n) {
    if (!file_ || at > size_ || n > size_ - at) return false;
    if (std::fseek(file_, static_cast<long>(at), SEEK_SET) != 0) return false;
    return std::fread(into, 1, n, file_) == n;
}

bool BookFile::u32(uint64_t at, uint32_t *value) {
    unsigned char b[4];
    if (!read(at, b, sizeof b)) return false;
    *value = le32(b);
    return true;
}

bool BookFile::u16(uint64_t at, uint16_t *value) {
    unsigned char b[2];
    if (!read(at, b, sizeof b)) return false;
    *value = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return true;
}

bool BookFile::table(int32_t table, TableRecord *record) {
    uint32_t dir = header_.field(HDR_TABLE_DIR_OFFSET);
    unsigned char count = 0;
    uint32_t position = 0;
    return dir != 0 && read(dir, &count, 1) && table >= 0 && static_cast<uint32_t>(table) < count &&
           u32(uint64_t{dir} + COUNT8_SIZE + uint64_t{TABLE_DIR_ENTRY_SIZE} * static_cast<uint32_t>(table),
               &position) &&
           read(position, record->bytes, TABLE_RECORD_SIZE);
}

bool emptyPageIsSound(const std::string &path, uint64_t size, int32_t table, uint32_t index, std::string *why) {
    BookFile file;
    TableRecord record;
    if (!file.open(path, size)) return true;  // nothing more to learn
    if (!file.table(table, &record)) {
        *why = "the table record cannot be read";
        return false;
    }
    uint32_t page = 0;
    uint32_t list = record.field(TBL_PAGE_LIST_OFFSET);
    if (index >= record.field(TBL_PAGE_COUNT) || list == 0 ||
        !file.u32(uint64_t{list} + uint64_t{U32_ENTRY_SIZE} * index, &page)) {
        *why = "the page list of table " + std::to_string(table) + " is cut before page " + std::to_string(index);
        return false;
    }
    uint32_t dir = file.header().field(HDR_PAGE_DIR_OFFSET), count = 0, at = 0;
    if (dir == 0 || !file.u32(dir, &count) || page >= count ||
        !file.u32(uint64_t{dir} + PAGE_DIR_COUNT_SIZE + uint64_t{PAGE_DIR_ENTRY_SIZE} * page, &at)) {
        *why = "the page directory is cut before book page " + std::to_string(page);
        return false;
    }
    uint64_t record2 = at;
    if (file.header().field(HDR_KIND) == KIND_PREFIXED) {
        uint16_t links = 0;
        if (!file.u16(record2, &links)) record2 = file.size() + 1;
        record2 += PAGE_LINK_COUNT_SIZE + uint64_t{links} * PAGE_LINK_SIZE;
    }
    uint32_t pageSize = 0;
    if (!file.u32(record2, &pageSize) || record2 + PAGE_SIZE_FIELD_SIZE + pageSize > file.size()) {
        *why = "book page " + std::to_string(page) + " lies past the end of the file (" + std::to_string(file.size()) +
               " bytes)";
        return false;
    }
    return true;
}

}  // namespace zavreader
