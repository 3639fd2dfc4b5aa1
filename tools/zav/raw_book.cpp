#include "raw_book.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "book/le.h"
#include "cli.h"

namespace zavtool {

RawBook::~RawBook() {
    if (file_.native != tovix::kInvalidFile) tovix::gPlatform->close(file_.native);
}

bool RawBook::open(const std::string &path, std::string *error) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        *error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = path + ": not a regular file";
        return false;
    }
    std::wstring wide = widenPath(path);
    file_.native = tovix::gPlatform->openRead(wide.c_str());
    file_.position = 0;
    if (file_.native == tovix::kInvalidFile) {
        *error = path + ": cannot open for reading";
        return false;
    }
    size_ = static_cast<uint64_t>(st.st_size);
    return true;
}

bool RawBook::header(tovix::BookHeader *out) { return fits(0, tovix::BOOK_HEADER_SIZE) && tovix::readHeader(&file_, out); }

bool RawBook::table(int32_t table, tovix::TableRecord *out) { return tovix::readTableRecord(&file_, table, out); }

bool RawBook::u8At(uint64_t position, uint8_t *value) {
    return fits(position, 1) && tovix::seekTo(&file_, position) && tovix::readU8(&file_, value);
}

bool RawBook::u16At(uint64_t position, uint16_t *value) {
    return fits(position, 2) && tovix::seekTo(&file_, position) && tovix::readU16(&file_, value);
}

bool RawBook::u32At(uint64_t position, uint32_t *value) {
    return fits(position, 4) && tovix::seekTo(&file_, position) && tovix::readU32(&file_, value);
}

bool RawBook::bytesAt(uint64_t position, void *buffer, uint32_t length) {
    return fits(position, length) && tovix::seekTo(&file_, position) && tovix::readExact(&file_, buffer, length);
}

bool RawBook::listEntry(uint32_t listOffset, uint64_t index, uint32_t *value) {
    return fits(listOffset + index * 4, 4) && tovix::readListEntry(&file_, listOffset, index, 4, value);
}

bool RawBook::vpItem(uint32_t vpListOffset, uint32_t item, uint32_t *itemOffset, VpLinks *links) {
    if (item == 0 || vpListOffset == 0) return false;
    uint32_t at;
    if (!listEntry(vpListOffset, item - 1u, &at)) return false;
    unsigned char fixed[tovix::VP_ITEM_FIXED_SIZE];
    if (!bytesAt(at, fixed, sizeof fixed)) return false;
    *itemOffset = at;
    links->pagePlusOne = tovix::le32(fixed);
    links->previous = tovix::le32(fixed + 4);
    links->nextSibling = tovix::le32(fixed + 8);
    links->firstChild = tovix::le32(fixed + 12);
    return true;
}

}  // namespace zavtool
