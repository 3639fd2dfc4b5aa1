#include "core/reader_shelf.h"

namespace zavtool {

std::string databaseOfTable(const ZAVReaderShelf *shelf, int32_t table) {
    for (size_t i = 0; i < ZAVReaderDatabaseCount(shelf); ++i) {
        ZAVReaderDatabaseInfo info;
        if (ZAVReaderDatabase(shelf, i, &info) == ZAVR_OK && info.table == table) return info.name;
    }
    return std::string();
}

std::string reasonOf(const ZAVReaderResult *result) {
    const char *reason = ZAVReaderResultReason(result);
    return reason ? reason : "";
}

}  // namespace zavtool
