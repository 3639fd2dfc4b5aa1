#include "book_input.h"

#include <unistd.h>

#include <vector>

#include "ZoZizID_writer.h"
#include "dict_format.h"
#include "memo_format.h"

namespace fuzz {

namespace {

constexpr char kBookName[] = "fuzz.book";

// A section's bytes, with the stored size at sizeOffset set to the real one
// unless the flags keep it.
std::vector<uint8_t> sectionFile(const uint8_t *data, Section section, uint8_t flags, uint32_t sizeOffset) {
    std::vector<uint8_t> file(data + section.at, data + section.at + section.size);
    if (!(flags & kKeepStoredSize) && file.size() >= sizeOffset + 4)
        put32(&file[sizeOffset], static_cast<uint32_t>(file.size()));
    return file;
}

}  // namespace

BookInput splitBookInput(const uint8_t *data, size_t size) {
    BookInput input{Plan(nullptr, 0), 0, {}, {}, {}};
    Split split = splitInput(data, size);
    input.plan = split.plan;
    input.flags = input.plan.u8();
    size_t dictionary = input.plan.u32(), memo = input.plan.u32();
    size_t at = static_cast<size_t>(split.file - data), left = split.fileSize;
    if (!split.file) at = left = 0;
    input.memo.size = memo < left ? memo : left;
    left -= input.memo.size;
    input.dictionary.size = dictionary < left ? dictionary : left;
    left -= input.dictionary.size;
    input.book = {at, left};
    input.dictionary.at = at + left;
    input.memo.at = input.dictionary.at + input.dictionary.size;
    return input;
}

BookFiles::BookFiles(const uint8_t *data, const BookInput &input) : data_(data), input_(input) {
    book_ = writeScratchFile(kBookName, data + input.book.at, input.book.size);
    if (input.memo.size) {
        std::vector<uint8_t> memo = sectionFile(data, input.memo, input.flags, zavmemo::format::kOffFileSize);
        memo_ = writeScratchFile(kBookName + std::string(zavmemo::format::kSidecarSuffix), memo.data(), memo.size());
    }
}

void BookFiles::placeDictionary(BookHandle book) {
    namespace layout = zozizid::format;
    if (!input_.dictionary.size || !dictionary_.empty()) return;
    std::vector<uint8_t> file = sectionFile(data_, input_.dictionary, input_.flags, layout::kOffFileSize);
    bool stored = (input_.flags & kKeepDictId) || !book;
    uint32_t dictId = static_cast<uint32_t>(ZAVGetDictClass(book, 0));
    if (stored)
        dictId = file.size() >= layout::kOffDictId + 4 ? get32(&file[layout::kOffDictId]) : 0;
    else if (file.size() >= layout::kOffDictId + 4)
        put32(&file[layout::kOffDictId], dictId);
    // A new file each run: the engine keeps a dictionary while its file's
    // identity, size and time stay the same.
    dictionary_ = writeScratchFile(zozizid::dictionaryFileName(dictId), file.data(), file.size());
}

BookFiles::~BookFiles() {
    for (const std::string *path : {&dictionary_, &memo_, &book_})
        if (!path->empty()) unlink(path->c_str());
}

}  // namespace fuzz
