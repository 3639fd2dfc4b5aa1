// The memo entry points, over the sidecar file of a book.
#include <stdlib.h>
#include <string.h>

#include "ZAVMemo.h"
#include "tovix/le.h"
#include "memo_format.h"
#include "memo_os.h"

using namespace zavmemo;
using tovix::le32;

namespace {

constexpr size_t kPathCapacity = 1024;
constexpr uint32_t kTagMemo = 0x4f4d454du;   // "MEMO"
constexpr uint32_t kTagFreed = 0x45455246u;  // "FREE"

struct MemoHandle {
    uint32_t tag;
    uint32_t size;
    unsigned char text[1];  // size bytes (allocated beyond the struct)
};

MemoHandle *asMemo(uintptr_t handle) {
    MemoHandle *m = reinterpret_cast<MemoHandle *>(handle);
    return m && m->tag == kTagMemo ? m : nullptr;
}

// An open, validated sidecar.
class Sidecar {
public:
    explicit Sidecar(BookHandle book) {
        char path[kPathCapacity];
        size_t n = os::bookPath(book, path, sizeof path - sizeof format::kSidecarSuffix);
        if (n == 0) return;
        memcpy(path + n, format::kSidecarSuffix, sizeof format::kSidecarSuffix);
        file_ = os::openRead(path);
        if (file_ != os::kNoFile && !validate()) {
            os::closeFile(file_);
            file_ = os::kNoFile;
        }
    }
    ~Sidecar() { os::closeFile(file_); }
    Sidecar(const Sidecar &) = delete;
    Sidecar &operator=(const Sidecar &) = delete;

    bool ok() const { return file_ != os::kNoFile; }

    // The entries of `page`: [*first, *first + *count). False on a read error.
    bool pageRange(uint32_t page, uint32_t *first, uint32_t *count) const {
        uint32_t lo, hi;
        if (!bound(page, false, &lo) || !bound(page, true, &hi)) return false;
        *first = lo;
        *count = hi > lo ? hi - lo : 0;
        return true;
    }

    // Text position of entry i, checked against the file.
    bool text(uint32_t i, uint32_t *offset, uint32_t *length) const {
        unsigned char e[format::kEntrySize];
        if (i >= count_ || !os::readAt(file_, entryAt(i), e, sizeof e)) return false;
        *offset = le32(e + 4);
        *length = le32(e + 8);
        return *length <= format::kMaxMemoLength && *offset <= size_ && *length <= size_ - *offset;
    }

    bool read(uint32_t offset, void *buffer, uint32_t length) const {
        return length == 0 || os::readAt(file_, offset, buffer, length);
    }

private:
    bool validate() {
        using namespace format;
        uint64_t actual = 0;
        unsigned char h[kHeaderSize];
        if (!os::fileSize(file_, &actual) || actual < kHeaderSize || actual > kMaxFileSize) return false;
        if (!os::readAt(file_, 0, h, sizeof h) || memcmp(h, kMagic, sizeof kMagic) != 0) return false;
        if (le32(h + kOffVersion) != kVersion || le32(h + kOffFileSize) != actual) return false;
        count_ = le32(h + kOffCount);
        size_ = static_cast<uint32_t>(actual);
        return count_ <= kMaxMemos && kHeaderSize + uint64_t{kEntrySize} * count_ <= actual;
    }

    uint64_t entryAt(uint32_t i) const { return format::kHeaderSize + uint64_t{format::kEntrySize} * i; }

    // The first entry whose page is >= page (upper: > page), by bisection.
    bool bound(uint32_t page, bool upper, uint32_t *result) const {
        uint32_t lo = 0, hi = count_;
        while (lo < hi) {
            uint32_t mid = lo + (hi - lo) / 2;
            unsigned char p[4];
            if (!os::readAt(file_, entryAt(mid), p, 4)) return false;
            uint32_t entryPage = le32(p);
            if (entryPage < page || (upper && entryPage == page))
                lo = mid + 1;
            else
                hi = mid;
        }
        *result = lo;
        return true;
    }

    os::File file_ = os::kNoFile;
    uint32_t count_ = 0;
    uint32_t size_ = 0;
};

MemoHandle *newHandle(size_t size) {
    MemoHandle *m = static_cast<MemoHandle *>(os::heapAlloc(sizeof(MemoHandle) + size));
    if (!m) return nullptr;
    m->tag = kTagMemo;
    m->size = static_cast<uint32_t>(size);
    return m;
}

}  // namespace

extern "C" {

ZAVMEMO_API int32_t ZAVMEMO_CALL CBIGetMemoNumber(BookHandle book, uint32_t page) noexcept {
    Sidecar sidecar(book);
    uint32_t first, count;
    if (!sidecar.ok() || !sidecar.pageRange(page, &first, &count)) return 0;
    return static_cast<int32_t>(count);
}

ZAVMEMO_API uintptr_t ZAVMEMO_CALL CBIGetMemoHandle(BookHandle book, uint32_t page, int32_t which) noexcept {
    if (which < 0) return 0;
    Sidecar sidecar(book);
    uint32_t first, count;
    if (!sidecar.ok() || !sidecar.pageRange(page, &first, &count) || count == 0) return 0;
    if (which > 0) {
        if (static_cast<uint32_t>(which) > count) return 0;
        first += static_cast<uint32_t>(which) - 1;
        count = 1;
    }
    // Size first: every text checked, the total bounded.
    uint64_t total = count - 1;  // the line feeds between memos
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t offset, length;
        if (!sidecar.text(first + i, &offset, &length)) return 0;
        total += length;
        if (total > ZAVMEMO_MAX_JOINED) return 0;
    }
    MemoHandle *m = newHandle(static_cast<size_t>(total));
    if (!m) return 0;
    size_t at = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t offset, length;
        if (i > 0) m->text[at++] = '\n';
        // Read again: the length must still fit what was allocated.
        if (!sidecar.text(first + i, &offset, &length) || length > total - at ||
            !sidecar.read(offset, m->text + at, length)) {
            os::heapFree(m);
            return 0;
        }
        at += length;
    }
    m->size = static_cast<uint32_t>(at);
    return reinterpret_cast<uintptr_t>(m);
}

ZAVMEMO_API int32_t ZAVMEMO_CALL CBIGetMemoSize(uintptr_t memo) noexcept {
    MemoHandle *m = asMemo(memo);
    return m ? static_cast<int32_t>(m->size) : 0;
}

ZAVMEMO_API int32_t ZAVMEMO_CALL CBIGetMemoContent(uintptr_t memo, void *buffer, uint32_t length) noexcept {
    MemoHandle *m = asMemo(memo);
    if (!m || !buffer) return 0;
    uint32_t n = m->size < length ? m->size : length;
    memcpy(buffer, m->text, n);
    return static_cast<int32_t>(n);
}

ZAVMEMO_API int32_t ZAVMEMO_CALL CBIFreeMemoHandle(uintptr_t memo) noexcept {
    MemoHandle *m = asMemo(memo);
    if (!m) return 0;
    m->tag = kTagFreed;
    os::heapFree(m);
    return 1;
}

}  // extern "C"
