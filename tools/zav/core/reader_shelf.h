// The reader library as the tool holds it: a shelf that frees itself, and
// results that do.
#ifndef ZAV_TOOL_READER_SHELF_H
#define ZAV_TOOL_READER_SHELF_H

#include <cstdint>
#include <memory>
#include <string>

#include "ZAVReader.h"

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

// The reason a result gives, or "" when it is whole.
std::string reasonOf(const ZAVReaderResult *result);

}  // namespace zavtool

#endif
