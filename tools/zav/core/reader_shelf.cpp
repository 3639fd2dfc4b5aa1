#include "core/reader_shelf.h"

namespace zavtool {

std::string databaseOfTable(const ZAVReaderShelf *shelf, int32_t table) {
    for (size_t i = 0; i < ZAVReaderDatabaseCount(shelf); ++i) {
        ZAVReaderDatabaseInfo info;
        if (ZAVReaderDatabase(shelf, i, &info) == ZAVR_OK && info.table == table) return info.name;
    }
    return std::string();
}

Status setShelfLanguage(ZAVReaderShelf *shelf, const std::string &language) {
    if (ZAVReaderSetLanguage(shelf, "*", language.c_str()) == ZAVR_OK) return Status();
    for (size_t i = 0; i < ZAVReaderDatabaseCount(shelf); ++i)
        if (!ZAVReaderStemLanguage(shelf, i))
            return Failure{std::string("stem look-ups are off: ") + ZAVReaderStemNote(shelf, i)};
    return Status();
}

std::string stemLine(const ZAVReaderShelf *shelf, size_t database) {
    const char *dictionary = ZAVReaderStemLanguage(shelf, database);
    const char *note = ZAVReaderStemNote(shelf, database);
    std::string why = note ? note : "";
    return dictionary ? std::string("on, ") + dictionary + " (" + why + ")" : "off: " + why;
}

std::string reasonOf(const ZAVReaderResult *result) {
    const char *reason = ZAVReaderResultReason(result);
    return reason ? reason : "";
}

}  // namespace zavtool
