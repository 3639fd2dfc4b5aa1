#include "import_dictionary.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ZoZizID_writer.h"
#include "dict_format.h"
#include "atomic_output.h"
#include "cli.h"
#include "tovix/format.h"
#include "zav/book_writer.h"

namespace zavtool {

namespace {

constexpr uint8_t kBaseLanguage = 1;
constexpr uint32_t kByteMask = 0xFF;

// The dictionary file's layout: a 48-byte header, the index, the word list
// and the record area (dict_format.h; described in ZoZizID.h).
using namespace zozizid::format;
constexpr uint32_t kWordLengthSize = 2;  // u16 before each word
// A record of one content: u32 count (1), then the content entry.
constexpr uint32_t kOneContentRecord = 4 + kContentEntrySize;
constexpr uint64_t kMaxDictionaryFile = UINT32_MAX;

void put32(FILE *f, uint32_t v) {
    unsigned char b[4];
    tovix::putLe32(b, v);
    std::fwrite(b, 1, sizeof b, f);
}

// The record area holds one record per key, each with one content (the main
// content), followed by the texts: each page once, however many keys lead
// to it, so that the file stays the size of the book.
struct DictLayout {
    uint64_t index = kHeaderSize, words = 0, wordsSize = 0, records = 0, recordsSize = 0, texts = 0;
    std::vector<uint32_t> textAt;  // per page
};

bool layOutDictionary(const zav::PackedKeys &keys, const zav::BookStreamWriter &pages, DictLayout *d,
                      std::string *error) {
    d->words = d->index + uint64_t{kIndexEntrySize} * keys.size();
    for (size_t k = 0; k < keys.size(); ++k) d->wordsSize += kWordLengthSize + keys.text(k).size();
    d->records = d->words + d->wordsSize;
    d->texts = d->records + uint64_t{kOneContentRecord} * keys.size();
    uint64_t at = d->texts;
    d->textAt.reserve(pages.pageCount());
    for (uint32_t p = 0; p < pages.pageCount() && at <= kMaxDictionaryFile; ++p) {
        d->textAt.push_back(static_cast<uint32_t>(at));
        at += pages.pageSize(p);
    }
    d->recordsSize = at - d->records;
    if (at > kMaxDictionaryFile) *error = "the dictionary would reach 4 GiB";
    return at <= kMaxDictionaryFile;
}

// Writes the dictionary file, reading each text back from `pages`.
bool writeDictionary(FILE *f, uint32_t dictId, const zav::PackedKeys &keys, const std::vector<uint32_t> &pageList,
                     const zav::BookStreamWriter &pages, std::string *error) {
    DictLayout d;
    if (!layOutDictionary(keys, pages, &d, error)) return false;
    unsigned char header[kHeaderSize] = {};
    std::copy(kMagic, kMagic + sizeof kMagic, header + kOffMagic);
    const std::pair<uint32_t, uint64_t> fields[] = {{kOffVersion, kVersion},
                                                    {kOffHeaderSize, kHeaderSize},
                                                    {kOffDictId, dictId},
                                                    {kOffWordCount, keys.size()},
                                                    {kOffIndexOffset, d.index},
                                                    {kOffWordsOffset, d.words},
                                                    {kOffWordsSize, d.wordsSize},
                                                    {kOffRecordsOffset, d.records},
                                                    {kOffRecordsSize, d.recordsSize},
                                                    {kOffFileSize, d.records + d.recordsSize}};
    for (const auto &[field, value] : fields) tovix::putLe32(header + field, static_cast<uint32_t>(value));
    std::fwrite(header, 1, sizeof header, f);
    uint64_t word = d.words;
    for (size_t k = 0; k < keys.size(); ++k) {
        put32(f, static_cast<uint32_t>(word));
        put32(f, static_cast<uint32_t>(d.records + uint64_t{kOneContentRecord} * k));
        word += kWordLengthSize + keys.text(k).size();
    }
    for (size_t k = 0; k < keys.size(); ++k) {
        const std::string_view text = keys.text(k);
        const unsigned char length[kWordLengthSize] = {static_cast<unsigned char>(text.size() & kByteMask),
                                                       static_cast<unsigned char>(text.size() >> 8)};
        std::fwrite(length, 1, sizeof length, f);
        std::fwrite(text.data(), 1, text.size(), f);
    }
    for (size_t k = 0; k < keys.size(); ++k) {
        const uint32_t page = pageList[keys.pageNo(k)];
        put32(f, 1);
        put32(f, zozizid::mainContentId(dictId));
        put32(f, d.textAt[page]);
        put32(f, static_cast<uint32_t>(pages.pageSize(page)));
    }
    std::string text;
    for (uint32_t p = 0; p < pages.pageCount(); ++p) {
        if (!pages.readPage(p, &text, error)) return false;
        std::fwrite(text.data(), 1, text.size(), f);
    }
    return true;
}

// Writes the dictionary to `path`; false with *error.
bool saveDictionary(const std::string &path, uint32_t dictId, const zav::PackedKeys &keys,
                    const std::vector<uint32_t> &pageList, const zav::BookStreamWriter &pages, std::string *error) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return *error = path + ": cannot write: " + std::strerror(errno), false;
    bool ok = writeDictionary(f, dictId, keys, pageList, pages, error);
    ok = std::fflush(f) == 0 && !std::ferror(f) && ok;
    ok = std::fclose(f) == 0 && ok;
    if (!ok && error->empty()) *error = path + ": write error";
    return ok;
}

bool saveBytes(const std::string &path, const std::vector<uint8_t> &bytes, std::string *error) {
    if (zav::saveBook(bytes, path)) return true;
    *error = path + ": cannot write";
    return false;
}

}  // namespace

uint32_t defaultDictId(const std::string &name) {
    uLong crc = crc32(0L, reinterpret_cast<const Bytef *>(name.data()), static_cast<uInt>(name.size()));
    return tovix::SPELL_DICT_ID_BITS | (static_cast<uint32_t>(crc) & kByteMask) << tovix::SPELL_DICT_ID_FREE_SHIFT;
}

int writeDictionaryBook(const std::string &command, const std::string &name, const zav::PackedKeys &keys,
                        const std::vector<uint32_t> &pageList, const zav::BookStreamWriter &pages, const BookInfo &info,
                        const ImportTarget &target) {
    std::string error;
    zav::BookDesc book;
    book.kind = tovix::KIND_DICTIONARY;
    book.bookName = zav::StringListDesc{{kBaseLanguage, name}};
    book.languages = std::vector<uint8_t>{kBaseLanguage};
    zav::TableDesc table;
    table.name = zav::StringListDesc{{kBaseLanguage, name}};
    table.locale = kBaseLanguage;
    table.dictId = target.dictId;
    book.tables.push_back(std::move(table));
    if (!info.empty()) {
        book.pages.push_back(zav::PageDesc{bookInfoPage(info), {}});
    }
    zav::WrittenBook written;
    if (!zav::writeBook(book, &written, &error))
        return complain(command, target.out + ": the book cannot be laid out: " + error), EXIT_FAILED;
    const std::string dictPath = zozizid::dictionaryPath(target.dictDir, target.dictId);
    OutputFiles files;
    std::string dictTemp = files.add(dictPath, &error), bookTemp;
    if (dictTemp.empty() || (bookTemp = files.add(target.out, &error)).empty() ||
        !saveDictionary(dictTemp, target.dictId, keys, pageList, pages, &error) ||
        !saveBytes(bookTemp, written.bytes, &error) || !files.commit(&error))
        return complain(command, error), EXIT_USAGE;
    if (!tovix::isSpellCapable(target.dictId))
        complain(command, "note: dictionary " + hex(target.dictId, 8) +
                              " is not of the form 0x0001XX01, so the book offers no spell checking");
    if (!target.quiet) {
        std::printf("wrote %s: %zu bytes, dictionary book of dictionary %s, %zu words\n", target.out.c_str(),
                    written.bytes.size(), hex(target.dictId, 8).c_str(), keys.size());
        std::printf("wrote %s; the host finds it with %s=%s\n", dictPath.c_str(), "ZOZIZID_DICT_DIR",
                    target.dictDir.empty() ? "." : target.dictDir.c_str());
    }
    return EXIT_OK;
}

}  // namespace zavtool
