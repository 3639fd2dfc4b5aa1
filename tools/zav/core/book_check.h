// The walk of `zav check`: every structure of a book read with the module's
// own readers, each problem reported with the file offset where the faulty
// value is stored, and the key look-ups replayed through the module.
#ifndef ZAV_TOOL_CORE_BOOK_CHECK_H
#define ZAV_TOOL_CORE_BOOK_CHECK_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/book_host.h"
#include "core/raw_book.h"
#include "tovix/format.h"

namespace zavtool {

struct Problem {
    uint64_t offset;    // where the faulty value is stored
    std::string where;  // the structure: "header", "table 0 key 5", ...
    std::string what;
};

class BookChecker {
public:
    // `host` is the same book opened through the module, or null when the
    // module refuses it: the look-ups are then not replayed.
    BookChecker(RawBook &raw, HostBook *host) : raw_(raw), host_(host) {}

    void run();

    static constexpr size_t kStoredProblemLimit = 2000;
    std::vector<Problem> problems;  // the first kStoredProblemLimit found
    uint64_t total = 0;             // every problem found
    uint64_t tableCount = 0, pageCount = 0, keyCount = 0, itemCount = 0;

private:
    static constexpr uint32_t kNoSize = 0xFFFFFFFFu;
    static std::string n(uint64_t value) { return std::to_string(value); }
    // A text from the book, quoted and cut short for a message.
    static std::string shortText(const std::string &text);

    void report(uint64_t offset, const std::string &where, const std::string &what);
    // A structure of `length` bytes at `position`, named by the value stored
    // at fieldOffset: reports and returns false when it leaves the file.
    bool region(uint64_t fieldOffset, const std::string &where, uint64_t position, uint64_t length,
                const std::string &what);
    // A list whose entry count is stored at countField and whose position at
    // offsetField: a position outside the file is the offset's fault, a list
    // that runs past the end the count's.
    bool listRegion(uint64_t offsetField, uint64_t countField, const std::string &where, uint64_t position,
                    uint64_t length, const std::string &what);
    // How many of `count` entries of `entrySize` bytes at `position` lie in
    // the file.
    uint64_t entriesInFile(uint64_t position, uint64_t count, uint64_t entrySize) const;

    // Walk a StringList. Returns its entry count, or -1 when it cannot be
    // walked to its end.
    int stringList(uint64_t fieldOffset, const std::string &where, uint64_t offset, const std::string &what);
    int walkStringList(uint64_t fieldOffset, const std::string &where, uint64_t offset, const std::string &what);

    // The book and its tables (book_check.cpp).
    void checkHeader();
    void checkBookLists();
    void checkPages();
    void checkTable(int32_t table, uint64_t entryOffset);
    void checkSubs(const std::string &where, uint32_t record, const tovix::TableRecord &r);
    struct KeyContext {
        std::string where;
        uint32_t list;   // the key list
        uint32_t pages;  // the table's page count
        const std::vector<uint32_t> *tablePageSizes;
    };
    std::vector<uint32_t> checkTablePages(const std::string &where, uint32_t record, const tovix::TableRecord &r);
    bool readKey(const KeyContext &c, uint64_t i, std::string *text, uint64_t *entry);
    void lookUpKeys(const std::string &where, int32_t table, const std::vector<std::string> &texts,
                    const std::vector<uint64_t> &entries);
    void checkKeys(const std::string &where, int32_t table, uint32_t record, const tovix::TableRecord &r,
                   const std::vector<uint32_t> &tablePageSizes);
    void checkPlainTable(const std::string &where, int32_t table, uint32_t record, const tovix::TableRecord &r);
    void checkDictionaryTable(const std::string &where, int32_t table, uint32_t record, const tovix::TableRecord &r);

    // The page maps and the table of contents (book_check_tree.cpp).
    struct Tree {
        uint32_t list, count;
    };
    struct TreeItems {
        uint64_t fit = 0;  // items whose list entry lies in the file
        std::vector<VpLinks> links;
        std::vector<uint32_t> offsets;
        std::vector<uint8_t> readable;
    };
    void checkPageMap(const std::string &where, uint64_t field, uint32_t list, uint64_t pages, uint64_t limit,
                      const char *what, const char *target);
    void readTreeItems(const std::string &where, const Tree &tree, int64_t tablePages, TreeItems *items);
    void walkTree(const std::string &where, uint32_t record, const Tree &tree, const TreeItems &items);
    void checkTree(const std::string &where, uint32_t record, const tovix::TableRecord &r, int64_t tablePages);

    RawBook &raw_;
    HostBook *host_;
    tovix::BookHeader header_{};
    uint32_t kind_ = 0;
    std::vector<uint32_t> pageSizes_;                // size of each book page, kNoSize when unreadable
    std::unordered_map<uint64_t, int> stringLists_;  // string lists walked: position -> entry count
    std::unordered_map<uint32_t, int32_t> records_;  // table records checked: position -> first table
};

}  // namespace zavtool

#endif
