// The reader library as the tool holds it: a shelf that frees itself, and
// results that do.
#ifndef ZAV_TOOL_READER_SHELF_H
#define ZAV_TOOL_READER_SHELF_H

#include <cstdint>
#include <memory>
#include <string>

#include "ZAVReader.h"
#include "core/result.h"

namespace zavtool {

struct ShelfCloser {
    void operator()(ZAVReaderShelf *shelf) const { ZAVReaderClose(shelf); }
};
struct ResultFreer {
    void operator()(ZAVReaderResult *result) const { ZAVReaderResultFree(result); }
};
using ReaderShelf = std::unique_ptr<ZAVReaderShelf, ShelfCloser>;
using ReaderResult = std::unique_ptr<ZAVReaderResult, ResultFreer>;

// The database name of table `table` of the one book on a shelf, or "" when
// the table has no keys (it is no database then).
std::string databaseOfTable(const ZAVReaderShelf *shelf, int32_t table);

// Stem look-ups of every database of the shelf in `language` (--language:
// "" turns them off); a failure says why they are off.
Status setShelfLanguage(ZAVReaderShelf *shelf, const std::string &language);

// Whether a database's stem look-ups are on, with which dictionary and
// language, or why not: "on, de_DE (language de from ...)" or "off: ...".
std::string stemLine(const ZAVReaderShelf *shelf, size_t database);

// The reason a result gives, or "" when it is whole.
std::string reasonOf(const ZAVReaderResult *result);

}  // namespace zavtool

#endif
