// The streaming book writer: pages go to the file as they come; the
// structures before them are written last, in the order writeBook uses.
#include "zav/book_stream_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tovix/collation.h"
#include "tovix/format.h"
#include "put_le.h"

namespace zav {

namespace {

using namespace tovix;

constexpr size_t kBufferBytes = size_t{1} << 20;

// Move n bytes between `data` and the file at `at` with `step` (pwrite or
// pread), going on after partial transfers and interruptions. A transfer of
// no bytes fails with the reason `none`.
template <typename Step, typename Bytes>
bool transferAll(Step step, int fd, Bytes *data, size_t n, uint64_t at, const char *what, const char *none,
                 std::string *error) {
    while (n > 0) {
        ssize_t done = step(fd, data, n, static_cast<off_t>(at));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) {
            *error = std::string(what) + (done == 0 ? none : std::strerror(errno));
            return false;
        }
        data += done;
        n -= static_cast<size_t>(done);
        at += static_cast<uint64_t>(done);
    }
    return true;
}

bool writeAll(int fd, const void *data, size_t n, uint64_t at, std::string *error) {
    return transferAll(::pwrite, fd, static_cast<const char *>(data), n, at,
                       "cannot write the book: ", std::strerror(EIO), error);
}

bool readAll(int fd, void *data, size_t n, uint64_t at, std::string *error) {
    return transferAll(::pread, fd, static_cast<char *>(data), n, at, "cannot read the book back: ", "short file",
                       error);
}

// Sequential output through a buffer, at a running position.
class Sink : public PutLittleEndian<Sink> {
public:
    Sink(int fd, std::string *error) : fd_(fd), error_(error) { buffer_.reserve(kBufferBytes); }
    uint32_t pos() const { return static_cast<uint32_t>(at_ + buffer_.size()); }
    bool ok() const { return ok_; }
    void raw(const void *data, size_t n) {
        const auto *p = static_cast<const char *>(data);
        if (buffer_.size() + n > kBufferBytes) flush();
        if (n > kBufferBytes) {
            ok_ = ok_ && writeAll(fd_, p, n, at_, error_);
            at_ += n;
            return;
        }
        buffer_.insert(buffer_.end(), p, p + n);
    }
    void u8(uint8_t v) { raw(&v, 1); }
    void flush() {
        ok_ = ok_ && writeAll(fd_, buffer_.data(), buffer_.size(), at_, error_);
        at_ += buffer_.size();
        buffer_.clear();
    }

private:
    int fd_;
    std::string *error_;
    std::vector<char> buffer_;
    uint64_t at_ = 0;
    bool ok_ = true;
};

uint64_t stringListSize(const std::optional<StringListDesc> &list) {
    if (!list) return 0;
    uint64_t size = COUNT8_SIZE;
    for (const auto &entry : list->entries) size += STRING_ENTRY_HEAD_SIZE + entry.second.size();
    return size;
}

bool checkStringList(const std::optional<StringListDesc> &list, const std::string &what, std::string *error) {
    if (!list) return true;
    bool ok = list->entries.size() <= MAX_COUNT8;
    for (const auto &entry : list->entries) ok = ok && entry.second.size() <= STRING_TEXT_MAX;
    if (!ok) *error = what + ": a string list holds at most 255 entries of at most 255 bytes";
    return ok;
}

uint32_t putStringList(Sink &out, const std::optional<StringListDesc> &list) {
    if (!list) return 0;
    uint32_t at = out.pos();
    out.u8(static_cast<uint8_t>(list->entries.size()));
    for (const auto &[language, text] : list->entries) {
        out.u8(language);
        out.u8(static_cast<uint8_t>(text.size()));
        out.raw(text.data(), text.size());
    }
    return at;
}

uint32_t putCountedBytes(Sink &out, const void *bytes, size_t count) {
    uint32_t at = out.pos();
    out.u8(static_cast<uint8_t>(count));
    out.raw(bytes, count);
    return at;
}

uint32_t putU32List(Sink &out, const std::vector<uint32_t> &values) {
    if (values.empty()) return 0;
    uint32_t at = out.pos();
    for (uint32_t v : values) out.u32(v);
    return at;
}

// Entry i: the index of the first key (in key order) that leads to table
// page i, a key added for a case fold only when no other key leads there;
// else the entry before it (0 at the start).
std::vector<uint32_t> pageToKey(const StreamTableDesc &table) {
    constexpr uint32_t none = UINT32_MAX;
    std::vector<uint32_t> entries(table.pageList.size(), none);
    std::vector<bool> folded(table.pageList.size(), false);
    for (uint32_t k = 0; k < table.keys.size(); ++k) {
        uint32_t page = table.keys.pageNo(k);
        if (page >= entries.size() || (entries[page] != none && !folded[page])) continue;
        bool fold = table.keys.attribute(k) == KEY_ATTRIBUTE_CASE_FOLD;
        if (entries[page] == none || !fold) entries[page] = k, folded[page] = fold;
    }
    uint32_t carried = 0;
    for (auto &entry : entries) entry = entry == none ? carried : (carried = entry);
    return entries;
}

uint32_t putKeys(Sink &out, const PackedKeys &keys) {
    if (keys.empty()) return 0;
    const uint32_t list = out.pos();
    uint64_t record = list + uint64_t{U32_ENTRY_SIZE} * keys.size();
    for (size_t k = 0; k < keys.size(); ++k) {
        out.u32(static_cast<uint32_t>(record));
        record += KEY_RECORD_FIXED_SIZE + keys.text(k).size();
    }
    for (size_t k = 0; k < keys.size(); ++k) {
        std::string_view text = keys.text(k);
        out.u32(keys.pageNo(k));
        out.u32(keys.pageOffset(k));
        out.u32(static_cast<uint32_t>(text.size()) | (uint32_t{keys.attribute(k)} << KEY_ATTRIBUTE_SHIFT));
        out.raw(text.data(), text.size());
    }
    return list;
}

// The table record is written in place once its lists are placed.
void putTable(Sink &out, const StreamTableDesc &table, unsigned char *record) {
    std::memset(record, 0, TABLE_RECORD_SIZE);
    record[TBL_LOCALE] = table.locale;
    putLe32(record + TBL_NAME_OFFSET, putStringList(out, table.name));
    putLe32(record + TBL_PAGE_COUNT, static_cast<uint32_t>(table.pageList.size()));
    putLe32(record + TBL_PAGE_LIST_OFFSET, putU32List(out, table.pageList));
    putLe32(record + TBL_KEY_COUNT, static_cast<uint32_t>(table.keys.size()));
    putLe32(record + TBL_KEY_LIST_OFFSET, putKeys(out, table.keys));
    if (table.autoPageToKey) putLe32(record + TBL_PAGE_TO_KEY_OFFSET, putU32List(out, pageToKey(table)));
    putLe32(record + TBL_DICT_ID, table.dictId);
}

bool checkFront(const BookDesc &book, const std::vector<StreamTableDesc> &tables, std::string *error) {
    if (book.shelfLevels || tables.size() > MAX_COUNT8 ||
        (book.defCharAttr && book.defCharAttr->size() != DEF_CHAR_ATTR_SIZE) ||
        (book.exBookNo && book.exBookNo->size() > MAX_COUNT8) ||
        (book.languages && book.languages->size() > MAX_COUNT8) ||
        book.reserved.size() > BOOK_HEADER_SIZE - HEADER_RESERVED_START) {
        *error = "the book's header or lists cannot be written (shelf levels, or a list too long)";
        return false;
    }
    if (!checkStringList(book.bookName, "book name", error)) return false;
    for (size_t t = 0; t < tables.size(); ++t)
        if (!checkStringList(tables[t].name, "table " + std::to_string(t) + " name", error)) return false;
    return true;
}

// What is written in place once the structures after it are placed.
struct Front {
    unsigned char header[BOOK_HEADER_SIZE] = {};
    uint32_t tableDirEntries = 0;
    std::vector<uint32_t> recordAt;
    std::vector<std::vector<unsigned char>> records;
};

void putFront(Sink &out, const BookDesc &book, const std::vector<StreamTableDesc> &tables, uint32_t kind,
              Front *placed) {
    unsigned char *header = placed->header;
    putLe32(header + HDR_MAGIC, book.magic);
    putLe32(header + HDR_KIND, kind);
    putLe32(header + HDR_VERSION, book.version);
    putLe32(header + HDR_CAPS_WORD1, book.capsWord1);
    putLe32(header + HDR_CAPS_WORD2, book.capsWord2);
    putLe32(header + HDR_SERIAL, book.serial);
    putLe32(header + HDR_POSITION_ID, book.positionId);
    std::copy(book.reserved.begin(), book.reserved.end(), header + HEADER_RESERVED_START);
    out.raw(header, BOOK_HEADER_SIZE);
    putLe32(header + HDR_BOOK_NAME_OFFSET, putStringList(out, book.bookName));
    if (book.defCharAttr) {
        putLe32(header + HDR_DEF_CHAR_ATTR_OFFSET, out.pos());
        out.raw(book.defCharAttr->data(), DEF_CHAR_ATTR_SIZE);
    }
    if (book.exBookNo)
        putLe32(header + HDR_EX_BOOK_NO_OFFSET, putCountedBytes(out, book.exBookNo->data(), book.exBookNo->size()));
    if (book.languages)
        putLe32(header + HDR_LANGUAGE_LIST_OFFSET,
                putCountedBytes(out, book.languages->data(), book.languages->size()));
    if (tables.empty()) return;
    putLe32(header + HDR_TABLE_DIR_OFFSET, out.pos());
    out.u8(static_cast<uint8_t>(tables.size()));
    placed->tableDirEntries = out.pos();
    for (size_t t = 0; t < tables.size(); ++t) out.u32(0);
    for (const StreamTableDesc &table : tables) {
        placed->recordAt.push_back(out.pos());
        placed->records.emplace_back(TABLE_RECORD_SIZE, 0);
        out.raw(placed->records.back().data(), TABLE_RECORD_SIZE);
        putTable(out, table, placed->records.back().data());
    }
}

bool patchFront(int fd, const Front &placed, std::string *error) {
    for (size_t t = 0; t < placed.records.size(); ++t) {
        unsigned char entry[TABLE_DIR_ENTRY_SIZE];
        putLe32(entry, placed.recordAt[t]);
        if (!writeAll(fd, entry, sizeof entry, placed.tableDirEntries + uint64_t{TABLE_DIR_ENTRY_SIZE} * t, error) ||
            !writeAll(fd, placed.records[t].data(), TABLE_RECORD_SIZE, placed.recordAt[t], error))
            return false;
    }
    return writeAll(fd, placed.header, BOOK_HEADER_SIZE, 0, error);
}

}  // namespace

bool PackedKeys::add(std::string_view text, uint32_t pageNo, uint8_t attribute, uint32_t pageOffset) {
    if (text.size() > KEY_TEXT_LENGTH_MASK || text.find('\0') != std::string_view::npos ||
        arena_.size() + text.size() + 1 > BOOK_MAX_FILE_SIZE)
        return false;
    keys_.push_back(Key{static_cast<uint32_t>(arena_.size()), pageNo, pageOffset, static_cast<uint16_t>(text.size()),
                        attribute, 0});
    arena_.append(text);
    arena_.push_back('\0');
    recordBytes_ += KEY_RECORD_FIXED_SIZE + text.size();
    return true;
}

bool PackedKeys::adopt(std::string arena) {
    if (arena.size() >= BOOK_MAX_FILE_SIZE) return false;
    arena_ = std::move(arena);
    return true;
}

bool PackedKeys::addAt(uint32_t at, uint32_t pageNo, uint8_t attribute, uint32_t pageOffset) {
    if (at >= arena_.size()) return false;
    size_t length = std::strlen(arena_.data() + at);
    if (length > KEY_TEXT_LENGTH_MASK) return false;
    keys_.push_back(Key{at, pageNo, pageOffset, static_cast<uint16_t>(length), attribute, 0});
    recordBytes_ += KEY_RECORD_FIXED_SIZE + length;
    return true;
}

void PackedKeys::reserve(size_t keys, size_t textBytes) {
    keys_.reserve(keys);
    arena_.reserve(arena_.size() + textBytes);
}

void PackedKeys::sort() {
    const char *arena = arena_.data();
    std::stable_sort(keys_.begin(), keys_.end(),
                     [arena](const Key &a, const Key &b) { return compareKeys(arena + a.text, arena + b.text) < 0; });
}

bool BookStreamWriter::flushPages(std::string *error) {
    bool ok = writeAll(fd_, pending_.data(), pending_.size(), pagesAt_ + pageBytes_ - pending_.size(), error);
    pending_.clear();
    return ok;
}

bool BookStreamWriter::addPage(std::string_view data, std::string *error) {
    const size_t head = (kind_ == KIND_PREFIXED ? PAGE_LINK_COUNT_SIZE : 0) + PAGE_SIZE_FIELD_SIZE;
    if (pagesAt_ + pageBytes_ + head + data.size() > BOOK_MAX_FILE_SIZE || pageStarts_.size() == UINT32_MAX) {
        *error = "the book would reach 2 GiB; every position must stay below 2^31";
        return false;
    }
    unsigned char bytes[PAGE_LINK_COUNT_SIZE + PAGE_SIZE_FIELD_SIZE] = {};
    const size_t sizeAt = kind_ == KIND_PREFIXED ? PAGE_LINK_COUNT_SIZE : 0;
    putLe32(bytes + sizeAt, static_cast<uint32_t>(data.size()));
    if (pending_.size() + head + data.size() > kBufferBytes && !flushPages(error)) return false;
    if (head + data.size() > kBufferBytes) {
        if (!writeAll(fd_, bytes, head, pagesAt_ + pageBytes_, error) ||
            !writeAll(fd_, data.data(), data.size(), pagesAt_ + pageBytes_ + head, error))
            return false;
    } else {
        pending_.append(reinterpret_cast<const char *>(bytes), head);
        pending_.append(data);
    }
    pageStarts_.push_back(static_cast<uint32_t>(pageBytes_));
    pageBytes_ += head + data.size();
    return true;
}

uint64_t BookStreamWriter::pageSize(uint32_t index) const {
    if (index >= pageStarts_.size()) return 0;
    const uint64_t head = (kind_ == KIND_PREFIXED ? PAGE_LINK_COUNT_SIZE : 0) + PAGE_SIZE_FIELD_SIZE;
    uint64_t end = index + 1 < pageStarts_.size() ? pageStarts_[index + 1] : pageBytes_;
    return end - pageStarts_[index] - head;
}

bool BookStreamWriter::readPage(uint32_t index, std::string *out, std::string *error) const {
    if (index >= pageStarts_.size()) {
        *error = "no page " + std::to_string(index);
        return false;
    }
    const size_t head = (kind_ == KIND_PREFIXED ? PAGE_LINK_COUNT_SIZE : 0) + PAGE_SIZE_FIELD_SIZE;
    const uint64_t pendingFrom = pageBytes_ - pending_.size(), start = pageStarts_[index] + head;
    if (start >= pendingFrom && !pending_.empty()) {
        out->assign(pending_, static_cast<size_t>(start - pendingFrom), static_cast<size_t>(pageSize(index)));
        return true;
    }
    out->resize(static_cast<size_t>(pageSize(index)));
    return readAll(fd_, out->data(), out->size(), pagesAt_ + start, error);
}

uint64_t BookStreamWriter::frontSize(const BookDesc &book, const std::vector<StreamTableDesc> &tables,
                                     uint32_t pageCount) {
    uint64_t size = BOOK_HEADER_SIZE + stringListSize(book.bookName);
    if (book.defCharAttr) size += DEF_CHAR_ATTR_SIZE;
    if (book.exBookNo) size += COUNT8_SIZE + book.exBookNo->size();
    if (book.languages) size += COUNT8_SIZE + book.languages->size();
    if (!tables.empty()) size += COUNT8_SIZE + uint64_t{TABLE_DIR_ENTRY_SIZE} * tables.size();
    for (const StreamTableDesc &t : tables) {
        size += TABLE_RECORD_SIZE + stringListSize(t.name) + uint64_t{U32_ENTRY_SIZE} * t.pageList.size();
        size += uint64_t{U32_ENTRY_SIZE} * t.keys.size() + t.keys.recordBytes();
        if (t.autoPageToKey) size += uint64_t{U32_ENTRY_SIZE} * t.pageList.size();
    }
    if (pageCount > 0) size += PAGE_DIR_COUNT_SIZE + uint64_t{PAGE_DIR_ENTRY_SIZE} * pageCount;
    return size;
}

// Move the page records from pagesAt_ to `to`, in blocks, in the order that
// never overwrites bytes not yet moved.
bool BookStreamWriter::movePages(uint64_t to, std::string *error) {
    std::vector<char> block(kBufferBytes);
    const bool down = to < pagesAt_;
    for (uint64_t done = 0; done < pageBytes_;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kBufferBytes, pageBytes_ - done));
        const uint64_t from = down ? done : pageBytes_ - done - n;
        if (!readAll(fd_, block.data(), n, pagesAt_ + from, error) || !writeAll(fd_, block.data(), n, to + from, error))
            return false;
        done += n;
    }
    pagesAt_ = to;
    return true;
}

bool BookStreamWriter::finish(const BookDesc &book, const std::vector<StreamTableDesc> &tables, uint64_t *size,
                              std::string *error) {
    if (!checkFront(book, tables, error) || !flushPages(error)) return false;
    const uint64_t front = frontSize(book, tables, pageCount());
    if (front + pageBytes_ > BOOK_MAX_FILE_SIZE) {
        *error = "the book would reach 2 GiB; every position must stay below 2^31";
        return false;
    }
    if (front != pagesAt_ && !movePages(front, error)) return false;
    if (::ftruncate(fd_, static_cast<off_t>(front + pageBytes_)) != 0) {
        *error = std::string("cannot size the book: ") + std::strerror(errno);
        return false;
    }
    Front placed;
    Sink out(fd_, error);
    putFront(out, book, tables, kind_, &placed);
    if (pageCount() > 0) {
        putLe32(placed.header + HDR_PAGE_DIR_OFFSET, out.pos());
        out.u32(pageCount());
        for (uint32_t start : pageStarts_) out.u32(static_cast<uint32_t>(pagesAt_ + start));
    }
    out.flush();
    if (!out.ok() || !patchFront(fd_, placed, error)) return false;
    *size = front + pageBytes_;
    return true;
}

}  // namespace zav
