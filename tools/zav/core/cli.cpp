#include "core/cli.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace zavtool {

namespace {

// " (try 'zav COMMAND --help')", the hint after a usage error.
std::string tryHelp(const std::string &command) {
    std::string hint = " (try 'zav ";
    hint += command;
    hint += " --help')";
    return hint;
}

}  // namespace

Status Args::parse(int argc, char **argv, const std::set<std::string> &valued, const std::set<std::string> &flags) {
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            positional_.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        if (a == "-h" || a == "--help") {
            help_ = true;
            continue;
        }
        if (a.rfind("--", 0) != 0) {
            // A lone "-5" is a (negative) positional number, not an option.
            if (parseInteger(a)) {
                positional_.push_back(a);
                continue;
            }
            return Failure{"unknown option '" + a + "'", Fault::Usage};
        }
        std::string name = a.substr(2);
        std::optional<std::string> inlineValue;
        size_t eq = name.find('=');
        if (eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (valued.count(name)) {
            if (inlineValue) {
                values_[name] = *inlineValue;
            } else if (i + 1 < argc) {
                values_[name] = argv[++i];
            } else {
                return Failure{"option --" + name + " needs a value", Fault::Usage};
            }
        } else if (flags.count(name) && !inlineValue) {
            flags_.insert(name);
        } else {
            return Failure{"unknown option '" + a + "'", Fault::Usage};
        }
    }
    return Status();
}

std::optional<std::string> Args::value(const std::string &name) const {
    auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

std::optional<int64_t> parseInteger(const std::string &text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int base = 10;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return std::nullopt;
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (value > (uint64_t{1} << 40)) return std::nullopt;  // far beyond any 32-bit argument
    }
    int64_t v = static_cast<int64_t>(value);
    return negative ? -v : v;
}

Result<int64_t> integerArgument(const std::string &what, const std::string &text, int64_t low, int64_t high) {
    auto v = parseInteger(text);
    if (!v || *v < low || *v > high)
        return Failure{what + " must be a number from " + std::to_string(low) + " to " + std::to_string(high) +
                       ", not '" + text + "'"};
    return *v;
}

void complain(const std::string &command, const std::string &message) {
    std::fprintf(stderr, "zav %s: %s\n", command.c_str(), message.c_str());
}

int usageError(const std::string &command, const std::string &message) {
    complain(command, message + tryHelp(command));
    return EXIT_USAGE;
}

int reportFailure(const std::string &command, const Failure &failure) {
    if (failure.fault == Fault::Usage) return usageError(command, failure.reason);
    complain(command, failure.reason);
    return failure.fault == Fault::Rejected ? EXIT_FAILED : EXIT_USAGE;
}

namespace {

std::string escape(const std::string &bytes, bool keepLines) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c != 0x7F) {
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += keepLines ? "\n" : "\\n";
        } else if (c == '\t') {
            out += keepLines ? "\t" : "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            static const char digits[] = "0123456789ABCDEF";
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

}  // namespace

std::string escapeText(const std::string &bytes) { return escape(bytes, false); }
std::string escapeContent(const std::string &bytes) { return escape(bytes, true); }

std::string hex(uint64_t value, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return buf;
}

Result<std::string> readWholeFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Failure{path + ": cannot open: " + std::strerror(errno)};
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad()) return Failure{path + ": read error"};
    return std::move(s).str();
}

std::string directoryOf(const std::string &path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseNameOf(const std::string &path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joinPath(const std::string &directory, const std::string &relative) {
    if (!relative.empty() && relative[0] == '/') return relative;
    if (directory.empty() || directory == ".") return relative;
    if (directory.back() == '/') return directory + relative;
    return directory + "/" + relative;
}

std::wstring widenPath(const std::string &path) {
    std::u32string points;
    const auto *p = reinterpret_cast<const unsigned char *>(path.data());
    size_t n = path.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        char32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1Fu) : extra == 2 ? (c & 0x0Fu) : (c & 0x07u);
        bool ok = extra >= 0 && i + static_cast<size_t>(extra) < n;
        for (int k = 1; ok && k <= extra; ++k) {
            unsigned char t = p[i + static_cast<size_t>(k)];
            if ((t & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (t & 0x3Fu);
        }
        if (ok) {
            points.push_back(cp);
            i += static_cast<size_t>(extra) + 1;
        } else {
            points.push_back(c);
            ++i;
        }
    }
    std::wstring wide;
    for (char32_t cp : points) {
        if constexpr (sizeof(wchar_t) == 2) {
            if (cp >= 0x10000) {
                cp -= 0x10000;
                wide.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
                wide.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
                continue;
            }
        }
        wide.push_back(static_cast<wchar_t>(cp));
    }
    return wide;
}

std::string inUtf8(const std::string &text, int32_t language) {
    static const char *const kCodeSets[] = {"CP936", "CP950", "CP932", "CP949"};
    if (language < 2 || language > 5 || text.empty()) return text;
    iconv_t cd = iconv_open("UTF-8", kCodeSets[language - 2]);
    if (cd == reinterpret_cast<iconv_t>(-1)) return text;
    std::string out(text.size() * 4 + 4, '\0');
    char *in = const_cast<char *>(text.data());
    size_t inLeft = text.size();
    char *to = out.data();
    size_t outLeft = out.size();
    size_t rc = iconv(cd, &in, &inLeft, &to, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || inLeft != 0) return text;
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace zavtool
