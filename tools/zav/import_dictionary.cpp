#include "import_dictionary.h"

#include <zlib.h>

#include <cstdio>

#include "ZoZizID_writer.h"
#include "atomic_output.h"
#include "cli.h"
#include "tovix/format.h"
#include "zav/book_writer.h"

namespace zavtool {

namespace {

constexpr uint8_t kBaseLanguage = 1;
constexpr uint32_t kDictIdMask = 0x00FFFFFF;  // the top byte stays clear of the sub content ids

bool saveBytes(const std::string &path, const std::vector<uint8_t> &bytes, std::string *error) {
    if (zav::saveBook(bytes, path)) return true;
    *error = path + ": cannot write";
    return false;
}

}  // namespace

uint32_t defaultDictId(const std::string &name) {
    uLong crc = crc32(0L, reinterpret_cast<const Bytef *>(name.data()), static_cast<uInt>(name.size()));
    uint32_t id = static_cast<uint32_t>(crc) & kDictIdMask;
    return id == 0 ? 1 : id;
}

int writeDictionaryBook(const std::string &command, const std::string &name, const zav::PackedKeys &keys,
                        const zav::BookStreamWriter &pages, const ImportTarget &target) {
    std::string error;
    std::vector<uint8_t> dictionary;
    {
        std::vector<zozizid::DictWord> words(keys.size());
        for (size_t k = 0; k < keys.size(); ++k) {
            words[k].word.assign(keys.text(k));
            std::string &text = words[k].contents[zozizid::mainContentId(target.dictId)];
            if (!pages.readPage(keys.pageNo(k), &text, &error)) return complain(command, error), EXIT_USAGE;
        }
        if (!zozizid::buildDictionary(target.dictId, std::move(words), &dictionary, &error))
            return complain(command, "the dictionary cannot be laid out: " + error), EXIT_FAILED;
    }
    zav::BookDesc book;
    book.kind = tovix::KIND_DICTIONARY;
    book.bookName = zav::StringListDesc{{kBaseLanguage, name}};
    book.languages = std::vector<uint8_t>{kBaseLanguage};
    zav::TableDesc table;
    table.name = zav::StringListDesc{{kBaseLanguage, name}};
    table.locale = kBaseLanguage;
    table.dictId = target.dictId;
    book.tables.push_back(std::move(table));
    zav::WrittenBook written;
    if (!zav::writeBook(book, &written, &error))
        return complain(command, target.out + ": the book cannot be laid out: " + error), EXIT_FAILED;
    const std::string dictPath = zozizid::dictionaryPath(target.dictDir, target.dictId);
    OutputFiles files;
    std::string dictTemp = files.add(dictPath, &error), bookTemp;
    if (dictTemp.empty() || (bookTemp = files.add(target.out, &error)).empty() ||
        !saveBytes(dictTemp, dictionary, &error) || !saveBytes(bookTemp, written.bytes, &error) ||
        !files.commit(&error))
        return complain(command, error), EXIT_USAGE;
    if (!target.quiet) {
        std::printf("wrote %s: %zu bytes, dictionary book of dictionary %s, %zu words\n", target.out.c_str(),
                    written.bytes.size(), hex(target.dictId, 8).c_str(), keys.size());
        std::printf("wrote %s: %zu bytes; the host finds it with %s=%s\n", dictPath.c_str(), dictionary.size(),
                    "ZOZIZID_DICT_DIR", target.dictDir.empty() ? "." : target.dictDir.c_str());
    }
    return EXIT_OK;
}

}  // namespace zavtool
