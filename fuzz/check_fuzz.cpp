// Fuzz target: `zav check` on a damaged book. The input is laid out as for
// book_fuzz (see book_input.h): the book, and a dictionary file and a memo
// sidecar placed where the engine and the memo library find them; the plan
// holds no calls, only the flags, of which kJsonReport asks for the JSON
// report. The command's output is discarded; it must end with one of its
// exit codes (0 sound, 1 problems, 2 I/O error).
#include <string>

#include "book_input.h"
#include "commands/commands.h"
#include "fuzz_support.h"

namespace {

constexpr uint8_t kJsonReport = 4;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::pointEngineAtScratch();
    fuzz::BookInput input = fuzz::splitBookInput(data, size);
    fuzz::BookFiles files(data, input);
    std::wstring wide(files.bookPath().begin(), files.bookPath().end());
    BookHandle book = nullptr;
    files.placeDictionary(ZAVOpenBook(wide.c_str(), &book) == ZAV_OPEN_OK ? book : nullptr);
    ZAVCloseBook(book);

    std::string path = files.bookPath(), json = "--json";
    char *argv[] = {path.data(), json.data(), nullptr};
    int rc = 0;
    {
        fuzz::QuietOutput quiet;
        rc = zavtool::runCheck(input.flags & kJsonReport ? 2 : 1, argv);
    }
    FUZZ_CHECK(rc == 0 || rc == 1 || rc == 2);
    return 0;
}
