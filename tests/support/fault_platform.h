// A fault-injecting platform table for the tests.
//
// FaultPlatform wraps the operating system's table (tovix::kNativePlatform)
// and is installed in its place (tovix::gPlatform). Every operation passes
// through to the native one, and on the way it is
//
//  - counted, per kind (Op);
//  - optionally failed: the N-th operation of a kind, counted from the moment
//    the fault is armed, fails once, or fails together with every later one
//    ("from then on");
//  - for reads, optionally cut short: the N-th read delivers fewer bytes than
//    asked instead of reporting an error, as a truncated file would;
//  - tracked: live allocations (count and bytes), files opened and not yet
//    closed, libraries loaded and not yet freed.
//
// Library lookups can be made to fail by name: hideSymbol("dicGetWord") makes
// findSymbol return null for that entry point (a library that lacks it), and
// failLibraryLoads("ZoZizID") makes every load whose path contains the text
// fail (the library is absent).
//
// What "failing" means per kind:
//   Open    openRead returns kInvalidFile
//   Read    readAt returns -1 (an I/O error)
//   Size    fileSize returns false
//   Alloc   allocate returns nullptr
//   Load    loadLibrary returns nullptr
//   Symbol  findSymbol returns nullptr
//   Close, Release and FreeLib are counted and tracked but cannot be failed.
//
// Typical use:
//
//   ScopedFaults faults;                  // installs, counters at zero
//   faults->failAt(Op::Read, 2);          // the second read from now fails
//   EXPECT_EQ(ZAVOpenBook(path, &h), ZAV_OPEN_BAD_FILE);
//   EXPECT_EQ(faults->liveAllocations(), 0);
//
//   forEachFailurePoint(Op::Read, [&](uint64_t n) {
//       BookHandle h = nullptr;
//       EXPECT_EQ(ZAVOpenBook(path, &h), ZAV_OPEN_BAD_FILE) << "read " << n;
//   });
//
// Allocations are tracked in a side table, so a block allocated before the
// table was installed may be released through it (it is passed to the native
// release and counted as a foreign release), and a block allocated through
// it may be released after it was uninstalled.
//
// Not thread-safe beyond a lock around its own bookkeeping; the module calls
// it from one thread at a time in every test.
#ifndef TOVIX_TEST_FAULT_PLATFORM_H
#define TOVIX_TEST_FAULT_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tovix/platform.h"

namespace tovix {
namespace test {

// The kinds of platform operation that are counted.
enum class Op : int {
    Open = 0,  // openRead, openReadNarrow
    Read,      // readAt
    Size,      // fileSize
    Close,     // close
    Alloc,     // allocate
    Release,   // release
    Load,      // loadLibrary
    Symbol,    // findSymbol
    FreeLib,   // freeLibrary
};
constexpr int kOpKinds = 9;
const char *opName(Op op);

class FaultPlatform {
public:
    // The one instance (the table's functions are plain function pointers).
    static FaultPlatform &instance();

    // Make gPlatform point at the wrapping table / back at the previous table.
    // install() also calls reset(). Nested installs are not supported.
    void install();
    void uninstall();
    bool installed() const;

    // Zero every counter, disarm every fault, show every symbol, let every
    // library load. Tracking of live allocations, files and libraries is
    // kept (a block allocated earlier may still be released later).
    void reset();
    // Disarm the faults only; counters stay.
    void clearFaults();

    // --- counters ------------------------------------------------------------
    // Operations of that kind since install()/reset()/resetCounts().
    uint64_t count(Op op) const;
    void resetCounts();
    // Paths given to loadLibrary, in order (failed loads included).
    std::vector<std::string> loadedPaths() const;
    // Names given to findSymbol, in order (hidden and failed ones included).
    std::vector<std::string> symbolLookups() const;
    // Bytes asked for by every readAt, in order.
    std::vector<uint32_t> readSizes() const;
    // File offsets of every readAt, in order.
    std::vector<uint32_t> readOffsets() const;

    // --- faults --------------------------------------------------------------
    // Fail the n-th operation of that kind from now on (n = 1: the very next
    // one). persistent: that one and every later one fail. Re-arming a kind
    // replaces its earlier fault. n = 0 disarms. Close, Release and FreeLib
    // cannot fail: arming them does nothing.
    void failAt(Op op, uint64_t n, bool persistent = false);
    // Make the n-th read from now deliver `deliver` bytes (at most the asked
    // size minus 1) instead of all it asked for; the bytes delivered are the
    // file's own. persistent: every later read is cut the same way.
    void shortReadAt(uint64_t n, uint32_t deliver = 0, bool persistent = false);
    // How many armed faults (failures or short reads) have fired since they
    // were armed.
    uint64_t faultsFired() const;

    // findSymbol returns null for this name (exact match) until showSymbols().
    void hideSymbol(const std::string &name);
    void showSymbols();
    // loadLibrary fails for every path that contains `pathPart` ("" = every
    // load) until allowLibraryLoads().
    void failLibraryLoads(const std::string &pathPart);
    void allowLibraryLoads();
    // Every load whose path contains `pathPart` returns `handle` (already
    // loaded by the test, e.g. the program itself, whose exports then answer
    // findSymbol) instead of loading a file; freeing it frees nothing. Kept
    // across reset(); a null handle ends it. Several parts may be set.
    void substituteLibrary(const std::string &pathPart, LibHandle handle);

    // --- tracking --------------------------------------------------------------
    // Blocks allocated through the table and not yet released, and their size.
    int64_t liveAllocations() const;
    uint64_t liveBytes() const;
    // Releases of blocks the table did not allocate (made before install).
    uint64_t foreignReleases() const;
    // Files opened through the table and not yet closed.
    int64_t liveFiles() const;
    // Libraries loaded through the table and not yet freed (counted per load).
    int64_t liveLibraries() const;

    // The wrapping table itself, for tests that install it by hand.
    const PlatformMethods *table() const;

private:
    FaultPlatform() = default;
};

// Installs the fault platform for a scope; uninstalls (and disarms) at the
// end. faults->... reaches the instance.
class ScopedFaults {
public:
    ScopedFaults();
    ~ScopedFaults();
    ScopedFaults(const ScopedFaults &) = delete;
    ScopedFaults &operator=(const ScopedFaults &) = delete;
    FaultPlatform *operator->() const { return &FaultPlatform::instance(); }
    FaultPlatform &operator*() const { return FaultPlatform::instance(); }
};

// How forEachFailurePoint injects its fault.
enum class FaultMode {
    Once,        // only the N-th operation fails
    Persistent,  // the N-th and every later one fail
    Short,       // Op::Read only: the N-th read delivers fewer bytes
};

// SQLite-style sweep: for N = 1, 2, ... reset the counters, arm a fault of
// `mode` at the N-th operation of kind `op`, and run fn(N); stop after the
// first run in which the fault did not fire (the operation ran fewer than N
// times), or after `limit` runs. Installs the fault platform for the
// duration when it is not installed yet. Returns the number of runs in
// which the fault fired (so 0 means fn never performed the operation).
uint64_t forEachFailurePoint(Op op, const std::function<void(uint64_t n)> &fn, FaultMode mode = FaultMode::Once,
                             uint64_t limit = 100000);

// Number of file descriptors (on Windows: handles) this process holds open
// right now. Compare before and after to prove "no descriptor left".
int openDescriptorCount();

}  // namespace test
}  // namespace tovix

#endif
