// Fixtures for tests that open books through the exported calls: temporary
// book files, the module's process attach/detach, and open book handles.
//
//   ModuleSession session;                        // attach, no DefaultLocale
//   zav::BookDesc desc; ...
//   OpenBook book(desc);                          // write, open, close at end
//   ASSERT_TRUE(book.ok()) << book.result();
//   EXPECT_EQ(ZAVGetTableCount(book), 2);
//
// Temporary files live in one folder per test process (under $TMPDIR or
// /tmp) that is removed, with everything in it, when the process exits.
#ifndef TOVIX_TEST_BOOKS_H
#define TOVIX_TEST_BOOKS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "TovixZAV_JC.h"
#include "zav/book_writer.h"

namespace tovix {
namespace test {

// A file written for a test: its path in both forms.
struct TempFile {
    std::string path;       // UTF-8
    std::wstring widePath;  // the same path as wide characters
};

// The folder of this process's temporary files (created on first use).
const std::string &tempDirectory();

// Write bytes to a new file with a unique name ending in `suffix` in the
// temporary folder. Aborts the test program when the file cannot be written.
TempFile writeTempFile(const std::vector<uint8_t> &bytes, const std::string &suffix = ".zav");
TempFile writeTempFile(const std::string &bytes, const std::string &suffix = ".zav");
// Write a book image; same as writeTempFile(bytes, ".zav").
TempFile writeTempBook(const std::vector<uint8_t> &image);
// Write a book described for the book writer (aborts on a bad description).
TempFile writeTempBook(const zav::BookDesc &desc);
// A path in the temporary folder at which no file exists.
TempFile missingFile(const std::string &suffix = ".zav");

// UTF-8 <-> wide (UTF-32 on POSIX) for paths.
std::wstring widen(const std::string &utf8);
std::string narrow(const std::wstring &wide);

// A 512-byte header made by hand, independent of the book writer: magic,
// kind, version, the rest zero (no lists, no tables, no pages).
std::vector<uint8_t> headerOnlyBook(uint32_t kind = BOOK_KIND_PLAIN, uint32_t version = 0,
                                    uint32_t magic = 0x44424544u);

// Set or unset an environment variable for a scope; the old value (or its
// absence) comes back at the end.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const std::optional<std::string> &value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// The module's process attach for a scope, as the loader would run it for
// the shared library: PROCESS_ATTACH with tovix::currentModuleInstance() at
// construction, PROCESS_DETACH at the end. Before attaching it points
// TOVIX_REGISTRY at a registry export written from `registry` (or, when none
// is given, at a file that does not exist, so the machine's own settings never
// leak into a test) and sets TOVIX_ACP when `acp` is given; both variables are
// restored at the end.
//
// Install a ScopedFaults before the session to make the engine library
// absent (faults->failLibraryLoads("ZoZizID")); the doubles' scripts and logs
// are not touched here: reset them in the test (engine_double::reset()).
class ModuleSession {
public:
    struct Options {
        std::optional<std::string> registry;                // text of the .reg file (bytes as given)
        std::optional<std::vector<uint8_t>> registryBytes;  // raw bytes instead (e.g. UTF-16LE)
        std::optional<std::string> acp;                     // TOVIX_ACP, e.g. "936"
    };
    ModuleSession();
    explicit ModuleSession(const Options &options);
    ~ModuleSession();
    ModuleSession(const ModuleSession &) = delete;
    ModuleSession &operator=(const ModuleSession &) = delete;

    // A registry export that sets DefaultLocale to `value` in the module's key.
    static std::string registryWithLocale(uint32_t value);

private:
    ScopedEnv registry_;
    std::optional<ScopedEnv> acp_;
};

// An open book for a scope: ZAVOpenBook at construction, ZAVCloseBook at the
// end when the open succeeded. A failed open is not a test failure by itself:
// check ok() / result().
class OpenBook {
public:
    explicit OpenBook(const zav::BookDesc &desc);
    explicit OpenBook(const std::vector<uint8_t> &image);
    explicit OpenBook(const TempFile &file);
    ~OpenBook();
    OpenBook(const OpenBook &) = delete;
    OpenBook &operator=(const OpenBook &) = delete;

    bool ok() const { return result_ == ZAV_OPEN_OK; }
    int32_t result() const { return result_; }
    BookHandle get() const { return handle_; }
    operator BookHandle() const { return handle_; }
    const TempFile &file() const { return file_; }
    // Close now (the destructor then does nothing). Returns ZAVCloseBook's
    // result, or 0 when the book was not open.
    int32_t close();

private:
    void open();
    TempFile file_;
    BookHandle handle_ = nullptr;
    int32_t result_ = ZAV_OPEN_BAD_FILE;
};

}  // namespace test
}  // namespace tovix

#endif
