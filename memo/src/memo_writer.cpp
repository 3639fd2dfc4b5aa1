#include "ZAVMemo_writer.h"

#include <algorithm>
#include <fstream>

#include "memo_format.h"
#include "tovix/le.h"

namespace zavmemo {

namespace {

void append32(std::vector<uint8_t> &b, uint32_t v) {
    unsigned char bytes[4];
    tovix::putLe32(bytes, v);
    b.insert(b.end(), bytes, bytes + sizeof bytes);
}

bool fail(std::string *error, const std::string &message) {
    if (error) *error = message;
    return false;
}

}  // namespace

std::string memoSidecarPath(const std::string &bookPath) { return bookPath + format::kSidecarSuffix; }

bool buildMemoFile(std::vector<MemoEntry> entries, std::vector<uint8_t> *out, std::string *error) {
    using namespace format;
    if (entries.size() > kMaxMemos) return fail(error, "more than 1,000,000 memos");
    uint64_t total = kHeaderSize + uint64_t{kEntrySize} * entries.size();
    for (const MemoEntry &e : entries) {
        if (e.text.size() > kMaxMemoLength) return fail(error, "memo over 1 MiB on page " + std::to_string(e.page));
        total += e.text.size();
    }
    if (total > kMaxFileSize) return fail(error, "memo file of 2 GiB or more");
    std::stable_sort(entries.begin(), entries.end(),
                     [](const MemoEntry &a, const MemoEntry &b) { return a.page < b.page; });

    std::vector<uint8_t> b(kMagic, kMagic + 4);
    b.reserve(static_cast<size_t>(total));
    append32(b, kVersion);
    append32(b, static_cast<uint32_t>(entries.size()));
    append32(b, static_cast<uint32_t>(total));
    uint32_t textAt = static_cast<uint32_t>(kHeaderSize + uint64_t{kEntrySize} * entries.size());
    for (const MemoEntry &e : entries) {
        append32(b, e.page);
        append32(b, textAt);
        append32(b, static_cast<uint32_t>(e.text.size()));
        textAt += static_cast<uint32_t>(e.text.size());
    }
    for (const MemoEntry &e : entries) b.insert(b.end(), e.text.begin(), e.text.end());
    if (out) *out = std::move(b);
    return true;
}

bool writeMemoFile(const std::string &path, std::vector<MemoEntry> entries, std::string *error) {
    std::vector<uint8_t> bytes;
    if (!buildMemoFile(std::move(entries), &bytes, error)) return false;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) return fail(error, "cannot create " + path);
    file.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) return fail(error, "cannot write " + path);
    return true;
}

bool writeBookMemos(const std::string &bookPath, std::vector<MemoEntry> entries, std::string *error) {
    return writeMemoFile(memoSidecarPath(bookPath), std::move(entries), error);
}

}  // namespace zavmemo
