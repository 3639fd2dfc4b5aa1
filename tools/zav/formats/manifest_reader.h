// The manifest of `zav build`: the JSON description of a book ('zav build
// --help' lists its fields), read into what the book writer, the dictionary
// engine's writer and the memo writer take.
#ifndef ZAV_TOOL_FORMATS_MANIFEST_READER_H
#define ZAV_TOOL_FORMATS_MANIFEST_READER_H

#include <cstdint>
#include <string>
#include <vector>

#include "ZAVMemo_writer.h"
#include "ZoZizID_writer.h"
#include "core/result.h"
#include "zav/book_writer.h"

namespace zavtool {

struct Manifest {
    zav::BookDesc book;
    // The words of each dictionary table, for the engine's dictionary file.
    struct Dictionary {
        uint32_t dictId;
        zozizid::DictWordTable words;
    };
    std::vector<Dictionary> dictionaries;
    std::vector<zavmemo::MemoEntry> memos;  // the page memos, for the sidecar
};

// Read the manifest at `path`; the files it names are relative to its
// folder. The long lists of each table (words, entries, pages, keys) are
// taken as they are read, so that a large manifest is never held whole;
// progress lines go to standard error as "zav COMMAND: ..." unless quiet. A
// manifest that cannot be used fails with Fault::Rejected, its reason naming
// the file and line ("PATH:LINE: WHERE: what is wrong"); one that cannot be
// read fails with Fault::Error.
Result<Manifest> readManifest(const std::string &path, const std::string &command, bool quiet);

}  // namespace zavtool

#endif
