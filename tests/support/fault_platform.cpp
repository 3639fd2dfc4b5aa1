#include "support/fault_platform.h"

#include <mutex>
#include <set>
#include <unordered_map>

namespace tovix {
namespace test {

namespace {

struct Fault {
    uint64_t at = 0;    // ordinal (counted from arming) that fails; 0 = disarmed
    uint64_t seen = 0;  // operations of the kind since arming
    bool persistent = false;
    uint32_t deliver = 0;  // short reads only
};

struct State {
    std::recursive_mutex lock;
    const PlatformMethods *previous = nullptr;
    bool installed = false;
    uint64_t counts[kOpKinds] = {};
    Fault faults[kOpKinds];
    Fault shortRead;
    uint64_t fired = 0;
    std::set<std::string> hidden;
    bool loadsFail = false;
    std::string loadFailPart;
    std::vector<std::pair<std::string, LibHandle>> substitutes;
    std::vector<std::string> loads, lookups;
    std::vector<uint32_t> readSizes, readOffsets;
    std::unordered_map<void *, size_t> blocks;
    uint64_t bytes = 0, foreign = 0;
    std::multiset<NativeFile> files;
    std::multiset<LibHandle> libraries;
};

State &state() {
    static State s;
    return s;
}

using Guard = std::lock_guard<std::recursive_mutex>;

// Count an operation of kind op and tell whether its armed fault fires.
bool tick(State &s, Op op) {
    int k = static_cast<int>(op);
    ++s.counts[k];
    Fault &f = s.faults[k];
    if (f.at == 0) return false;
    ++f.seen;
    if (f.seen == f.at || (f.persistent && f.seen > f.at)) {
        ++s.fired;
        return true;
    }
    return false;
}

NativeFile fpOpenRead(const wchar_t *path) {
    State &s = state();
    Guard g(s.lock);
    if (tick(s, Op::Open)) return kInvalidFile;
    NativeFile f = kNativePlatform.openRead(path);
    if (f != kInvalidFile) s.files.insert(f);
    return f;
}

int64_t fpReadAt(NativeFile file, void *buffer, uint32_t n, uint32_t offset) {
    State &s = state();
    Guard g(s.lock);
    s.readSizes.push_back(n);
    s.readOffsets.push_back(offset);
    if (tick(s, Op::Read)) return -1;
    Fault &sr = s.shortRead;
    if (sr.at != 0) {
        ++sr.seen;
        if (sr.seen == sr.at || (sr.persistent && sr.seen > sr.at)) {
            ++s.fired;
            uint32_t cut = n == 0 ? 0 : (sr.deliver < n ? sr.deliver : n - 1);
            return kNativePlatform.readAt(file, buffer, cut, offset);
        }
    }
    return kNativePlatform.readAt(file, buffer, n, offset);
}

NativeFile fpOpenReadNarrow(const char *path, PathText text) {
    State &s = state();
    Guard g(s.lock);
    if (tick(s, Op::Open)) return kInvalidFile;
    NativeFile f = kNativePlatform.openReadNarrow(path, text);
    if (f != kInvalidFile) s.files.insert(f);
    return f;
}

bool fpFileSize(NativeFile file, uint64_t *size) {
    State &s = state();
    Guard g(s.lock);
    if (tick(s, Op::Size)) return false;
    return kNativePlatform.fileSize(file, size);
}

void fpClose(NativeFile file) {
    State &s = state();
    Guard g(s.lock);
    tick(s, Op::Close);
    auto it = s.files.find(file);
    if (it != s.files.end()) s.files.erase(it);
    kNativePlatform.close(file);
}

void *fpAllocate(size_t size, bool zero) {
    State &s = state();
    Guard g(s.lock);
    if (tick(s, Op::Alloc)) return nullptr;
    void *block = kNativePlatform.allocate(size, zero);
    if (block) {
        s.blocks[block] = size;
        s.bytes += size;
    }
    return block;
}

void fpRelease(void *block) {
    State &s = state();
    Guard g(s.lock);
    tick(s, Op::Release);
    auto it = s.blocks.find(block);
    if (it != s.blocks.end()) {
        s.bytes -= it->second;
        s.blocks.erase(it);
    } else if (block) {
        ++s.foreign;
    }
    kNativePlatform.release(block);
}

LibHandle fpLoadLibrary(const char *path) {
    State &s = state();
    Guard g(s.lock);
    std::string p = path ? path : "";
    s.loads.push_back(p);
    if (tick(s, Op::Load)) return nullptr;
    if (s.loadsFail && p.find(s.loadFailPart) != std::string::npos) return nullptr;
    LibHandle lib = nullptr;
    for (const auto &sub : s.substitutes)
        if (p.find(sub.first) != std::string::npos) lib = sub.second;
    if (!lib) lib = kNativePlatform.loadLibrary(path);
    if (lib) s.libraries.insert(lib);
    return lib;
}

void *fpFindSymbol(LibHandle lib, const char *name) {
    State &s = state();
    Guard g(s.lock);
    std::string n = name ? name : "";
    s.lookups.push_back(n);
    if (tick(s, Op::Symbol)) return nullptr;
    if (s.hidden.count(n)) return nullptr;
    return kNativePlatform.findSymbol(lib, name);
}

void fpFreeLibrary(LibHandle lib) {
    State &s = state();
    Guard g(s.lock);
    tick(s, Op::FreeLib);
    auto it = s.libraries.find(lib);
    if (it != s.libraries.end()) s.libraries.erase(it);
    bool substitute = false;
    for (const auto &sub : s.substitutes) substitute = substitute || sub.second == lib;
    if (!substitute) kNativePlatform.freeLibrary(lib);
}

// An entry point of a library that is already loaded counts as a symbol
// look-up: it fails in turn and can be hidden.
void *fpFindLoadedSymbol(const char *baseName, const char *symbol) {
    State &s = state();
    Guard g(s.lock);
    std::string n = symbol ? symbol : "";
    s.lookups.push_back(n);
    if (tick(s, Op::Symbol)) return nullptr;
    if (s.hidden.count(n)) return nullptr;
    return kNativePlatform.findLoadedSymbol(baseName, symbol);
}

const PlatformMethods kFaultTable = {
    fpOpenRead, fpReadAt,      fpFileSize,   fpClose,          fpAllocate,         fpRelease,
    fpLoadLibrary, fpFindSymbol, fpFreeLibrary, fpOpenReadNarrow, fpFindLoadedSymbol,
};

}  // namespace

const char *opName(Op op) {
    static const char *const kNames[kOpKinds] = {"open",    "read", "size",   "close",  "alloc",
                                                 "release", "load", "symbol", "freelib"};
    int k = static_cast<int>(op);
    return k >= 0 && k < kOpKinds ? kNames[k] : "?";
}

FaultPlatform &FaultPlatform::instance() {
    static FaultPlatform p;
    return p;
}

void FaultPlatform::install() {
    State &s = state();
    Guard g(s.lock);
    reset();
    if (s.installed) return;
    s.previous = gPlatform;
    gPlatform = &kFaultTable;
    s.installed = true;
}

void FaultPlatform::uninstall() {
    State &s = state();
    Guard g(s.lock);
    if (!s.installed) return;
    gPlatform = s.previous ? s.previous : &kNativePlatform;
    s.installed = false;
}

bool FaultPlatform::installed() const {
    Guard g(state().lock);
    return state().installed;
}

void FaultPlatform::reset() {
    State &s = state();
    Guard g(s.lock);
    resetCounts();
    clearFaults();
    s.hidden.clear();
    s.loadsFail = false;
    s.loadFailPart.clear();
}

void FaultPlatform::clearFaults() {
    State &s = state();
    Guard g(s.lock);
    for (Fault &f : s.faults) f = Fault{};
    s.shortRead = Fault{};
    s.fired = 0;
}

uint64_t FaultPlatform::count(Op op) const {
    Guard g(state().lock);
    int k = static_cast<int>(op);
    return k >= 0 && k < kOpKinds ? state().counts[k] : 0;
}

void FaultPlatform::resetCounts() {
    State &s = state();
    Guard g(s.lock);
    for (uint64_t &c : s.counts) c = 0;
    s.loads.clear();
    s.lookups.clear();
    s.readSizes.clear();
    s.readOffsets.clear();
}

std::vector<std::string> FaultPlatform::loadedPaths() const {
    Guard g(state().lock);
    return state().loads;
}

std::vector<std::string> FaultPlatform::symbolLookups() const {
    Guard g(state().lock);
    return state().lookups;
}

std::vector<uint32_t> FaultPlatform::readSizes() const {
    Guard g(state().lock);
    return state().readSizes;
}

std::vector<uint32_t> FaultPlatform::readOffsets() const {
    Guard g(state().lock);
    return state().readOffsets;
}

void FaultPlatform::failAt(Op op, uint64_t n, bool persistent) {
    State &s = state();
    Guard g(s.lock);
    int k = static_cast<int>(op);
    if (k < 0 || k >= kOpKinds || op == Op::Close || op == Op::Release || op == Op::FreeLib) return;
    s.faults[k] = Fault{n, 0, persistent, 0};
}

void FaultPlatform::shortReadAt(uint64_t n, uint32_t deliver, bool persistent) {
    State &s = state();
    Guard g(s.lock);
    s.shortRead = Fault{n, 0, persistent, deliver};
}

uint64_t FaultPlatform::faultsFired() const {
    Guard g(state().lock);
    return state().fired;
}

void FaultPlatform::hideSymbol(const std::string &name) {
    Guard g(state().lock);
    state().hidden.insert(name);
}

void FaultPlatform::showSymbols() {
    Guard g(state().lock);
    state().hidden.clear();
}

void FaultPlatform::failLibraryLoads(const std::string &pathPart) {
    Guard g(state().lock);
    state().loadsFail = true;
    state().loadFailPart = pathPart;
}

void FaultPlatform::substituteLibrary(const std::string &pathPart, LibHandle handle) {
    State &s = state();
    Guard g(s.lock);
    for (auto it = s.substitutes.begin(); it != s.substitutes.end();)
        it = it->first == pathPart ? s.substitutes.erase(it) : it + 1;
    if (handle) s.substitutes.emplace_back(pathPart, handle);
}

void FaultPlatform::allowLibraryLoads() {
    Guard g(state().lock);
    state().loadsFail = false;
    state().loadFailPart.clear();
}

int64_t FaultPlatform::liveAllocations() const {
    Guard g(state().lock);
    return static_cast<int64_t>(state().blocks.size());
}

uint64_t FaultPlatform::liveBytes() const {
    Guard g(state().lock);
    return state().bytes;
}

uint64_t FaultPlatform::foreignReleases() const {
    Guard g(state().lock);
    return state().foreign;
}

int64_t FaultPlatform::liveFiles() const {
    Guard g(state().lock);
    return static_cast<int64_t>(state().files.size());
}

int64_t FaultPlatform::liveLibraries() const {
    Guard g(state().lock);
    return static_cast<int64_t>(state().libraries.size());
}

const PlatformMethods *FaultPlatform::table() const { return &kFaultTable; }

ScopedFaults::ScopedFaults() { FaultPlatform::instance().install(); }

ScopedFaults::~ScopedFaults() {
    FaultPlatform::instance().reset();
    FaultPlatform::instance().uninstall();
}

uint64_t forEachFailurePoint(Op op, const std::function<void(uint64_t n)> &fn, FaultMode mode, uint64_t limit) {
    FaultPlatform &p = FaultPlatform::instance();
    bool installedHere = !p.installed();
    if (installedHere) p.install();
    uint64_t runs = 0;
    for (uint64_t n = 1; n <= limit; ++n) {
        p.clearFaults();
        p.resetCounts();
        if (mode == FaultMode::Short)
            p.shortReadAt(n);
        else
            p.failAt(op, n, mode == FaultMode::Persistent);
        fn(n);
        bool fired = p.faultsFired() > 0;
        p.clearFaults();
        if (!fired) break;
        ++runs;
    }
    if (installedHere) {
        p.reset();
        p.uninstall();
    }
    return runs;
}

}  // namespace test
}  // namespace tovix
