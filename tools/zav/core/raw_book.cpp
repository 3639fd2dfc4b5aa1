#include "core/raw_book.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "core/cli.h"

namespace zavtool {

RawBook::~RawBook() { tovix::closeBookFile(&file_); }

Status RawBook::open(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return Failure{path + ": cannot open: " + std::strerror(errno)};
    if (!S_ISREG(st.st_mode)) return Failure{path + ": not a regular file"};
    std::wstring wide = widenPath(path);
    if (!tovix::openBookFile(wide.c_str(), &file_)) return Failure{path + ": cannot open for reading"};
    return Status();
}

bool RawBook::vpItem(uint32_t vpListOffset, uint32_t item, uint32_t *itemOffset, VpLinks *links) {
    if (item == 0 || vpListOffset == 0) return false;
    uint32_t at;
    unsigned char fixed[tovix::VP_ITEM_FIXED_SIZE];
    if (!listEntry(vpListOffset, item - 1u, &at) || !bytesAt(at, fixed, sizeof fixed)) return false;
    *itemOffset = at;
    *links = tovix::decodeVpItem(fixed);
    return true;
}

std::string RawBook::why(uint64_t *offset) {
    std::string reason = failure_.reason ? failure_.reason : "";
    if (offset) *offset = failure_.offset;
    failure_ = {};
    return reason;
}

}  // namespace zavtool
