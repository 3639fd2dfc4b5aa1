#include "support/test_books.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "book/process_state.h"
#include "tovix/platform.h"
#include "support/test_os.h"

namespace tovix {
namespace test {

namespace {

// The temporary folder, removed with its contents at exit.
struct TempFolder {
    std::string path;
    TempFolder() {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::path base = fs::temp_directory_path(ec);
        if (ec) base = ".";
        std::mt19937_64 random(std::random_device{}() ^
                               static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
        for (int attempt = 0; attempt < 100; ++attempt) {
            char name[40];
            std::snprintf(name, sizeof name, "tovix-test-%016llx", static_cast<unsigned long long>(random()));
            fs::path candidate = base / name;
            if (fs::create_directory(candidate, ec) && !ec) {
                path = candidate.generic_string();
                return;
            }
        }
        std::fprintf(stderr, "cannot create a temporary folder in %s\n", base.generic_string().c_str());
        std::abort();
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

TempFolder &folder() {
    static TempFolder f;
    return f;
}

std::string uniqueName(const std::string &suffix) {
    static unsigned counter = 0;
    return folder().path + "/f" + std::to_string(++counter) + suffix;
}

}  // namespace

const std::string &tempDirectory() { return folder().path; }

std::wstring widen(const std::string &utf8) {
    std::wstring out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        uint32_t cp;
        size_t len;
        if (c < 0x80)
            cp = c, len = 1;
        else if ((c & 0xE0) == 0xC0)
            cp = c & 0x1Fu, len = 2;
        else if ((c & 0xF0) == 0xE0)
            cp = c & 0x0Fu, len = 3;
        else
            cp = c & 0x07u, len = 4;
        for (size_t k = 1; k < len && i + k < utf8.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
        if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string narrow(const std::wstring &wide) {
    std::string out;
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(wide[i]);
        if (sizeof(wchar_t) == 2) {
            c &= 0xFFFFu;
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size()) {
                uint32_t low = static_cast<uint32_t>(wide[i + 1]) & 0xFFFFu;
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

TempFile writeTempFile(const std::vector<uint8_t> &bytes, const std::string &suffix) {
    TempFile f;
    f.path = uniqueName(suffix);
    f.widePath = widen(f.path);
    // The path as UTF-8 on every system, whatever the narrow code page.
    std::ofstream out(std::filesystem::path(std::u8string(f.path.begin(), f.path.end())),
                      std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", f.path.c_str());
        std::abort();
    }
    return f;
}

TempFile writeTempFile(const std::string &bytes, const std::string &suffix) {
    return writeTempFile(std::vector<uint8_t>(bytes.begin(), bytes.end()), suffix);
}

TempFile writeTempBook(const std::vector<uint8_t> &image) { return writeTempFile(image, ".zav"); }

TempFile writeTempBook(const zav::BookDesc &desc) { return writeTempBook(zav::writeBookOrDie(desc).bytes); }

TempFile missingFile(const std::string &suffix) {
    TempFile f;
    f.path = uniqueName(suffix);
    f.widePath = widen(f.path);
    return f;
}

std::vector<uint8_t> headerOnlyBook(uint32_t kind, uint32_t version, uint32_t magic) {
    std::vector<uint8_t> bytes(512, 0);
    auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    put(0, magic);
    put(4, kind);
    put(8, version);
    return bytes;
}

// --- ScopedEnv ---------------------------------------------------------------

ScopedEnv::ScopedEnv(const char *name, const std::optional<std::string> &value) : name_(name) {
    if (const char *old = std::getenv(name)) old_ = std::string(old);
    setEnvironment(name, value ? value->c_str() : nullptr);
}

ScopedEnv::~ScopedEnv() { setEnvironment(name_.c_str(), old_ ? old_->c_str() : nullptr); }

// --- ModuleSession -------------------------------------------------------------

namespace {

std::string registryPath(const ModuleSession::Options &options) {
    if (options.registryBytes) return writeTempFile(*options.registryBytes, ".reg").path;
    if (options.registry) return writeTempFile(*options.registry, ".reg").path;
    return missingFile(".reg").path;
}

}  // namespace

ModuleSession::ModuleSession() : ModuleSession(Options{}) {}

ModuleSession::ModuleSession(const Options &options) : registry_("TOVIX_REGISTRY", registryPath(options)) {
    if (options.acp) acp_.emplace("TOVIX_ACP", options.acp);
    moduleEntry(currentModuleInstance(), PROCESS_ATTACH, nullptr);
}

ModuleSession::~ModuleSession() { moduleEntry(currentModuleInstance(), PROCESS_DETACH, nullptr); }

std::string ModuleSession::registryWithLocale(uint32_t value) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", value);
    return std::string(
               "Windows Registry Editor Version 5.00\n\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrava\\TovixDict]\n"
               "\"DefaultLocale\"=dword:") +
           hex + "\n";
}

// --- OpenBook ----------------------------------------------------------------

OpenBook::OpenBook(const zav::BookDesc &desc) : file_(writeTempBook(desc)) { open(); }

OpenBook::OpenBook(const std::vector<uint8_t> &image) : file_(writeTempBook(image)) { open(); }

OpenBook::OpenBook(const TempFile &file) : file_(file) { open(); }

OpenBook::~OpenBook() { close(); }

void OpenBook::open() {
    BookHandle h = nullptr;
    result_ = ZAVOpenBook(file_.widePath.c_str(), &h);
    handle_ = result_ == ZAV_OPEN_OK ? h : nullptr;
}

int32_t OpenBook::close() {
    if (!handle_) return 0;
    int32_t r = ZAVCloseBook(handle_);
    handle_ = nullptr;
    return r;
}

}  // namespace test
}  // namespace tovix
