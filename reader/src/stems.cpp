#include "stems.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "text.h"

#if defined(ZAVR_HAVE_HUNSPELL)
#include <hunspell.hxx>
#else
class Hunspell {};
#endif

namespace zavreader {

namespace {

// The longest word handed to Hunspell, and the most stems tried.
constexpr size_t kLongestStemmedWord = 100;
constexpr size_t kMostStems = 8;
// Lines of an .aff file read for its SET line.
constexpr int kAffLinesRead = 500;

struct Language {
    const char *code;   // ISO 639-1, as Hunspell dictionaries are named
    const char *codes;  // its ISO 639-2 codes, space-separated
    const char *names;  // names in English and in the language, folded, '|'-separated
};

constexpr Language kLanguages[] = {
    {"de", "deu ger", "german|deutsch"},
    {"en", "eng", "english"},
    {"fr", "fra fre", "french|français|francais"},
    {"es", "spa", "spanish|español|espanol"},
    {"it", "ita", "italian|italiano"},
    {"nl", "nld dut", "dutch|nederlands"},
    {"pt", "por", "portuguese|português|portugues"},
    {"ru", "rus", "russian|русский"},
    {"uk", "ukr", "ukrainian|українська"},
    {"pl", "pol", "polish|polski"},
    {"cs", "ces cze", "czech|čeština|cestina"},
    {"sk", "slk slo", "slovak|slovenčina"},
    {"sl", "slv", "slovenian|slovene|slovenščina"},
    {"hr", "hrv", "croatian|hrvatski"},
    {"bg", "bul", "bulgarian|български"},
    {"ro", "ron rum", "romanian|română"},
    {"hu", "hun", "hungarian|magyar"},
    {"sv", "swe", "swedish|svenska"},
    {"da", "dan", "danish|dansk"},
    {"nb", "nob nor", "norwegian|norsk"},
    {"fi", "fin", "finnish|suomi"},
    {"et", "est", "estonian|eesti"},
    {"lv", "lav", "latvian|latviešu"},
    {"lt", "lit", "lithuanian|lietuvių"},
    {"el", "ell gre", "greek|modern greek|ελληνικά"},
    {"tr", "tur", "turkish|türkçe"},
    {"ca", "cat", "catalan|català"},
    {"gl", "glg", "galician|galego"},
    {"eu", "eus baq", "basque|euskara"},
    {"ga", "gle", "irish|gaeilge"},
    {"br", "bre", "breton|brezhoneg"},
    {"la", "lat", "latin|latina"},
    {"eo", "epo", "esperanto"},
    {"is", "isl ice", "icelandic|íslenska"},
};

bool inList(std::string_view list, char separator, std::string_view item) {
    for (size_t at = 0; at <= list.size();) {
        size_t end = list.find(separator, at);
        if (end == std::string_view::npos) end = list.size();
        if (list.substr(at, end - at) == item) return true;
        at = end + 1;
    }
    return false;
}

const Language *byCode3(std::string_view code) {
    for (const Language &l : kLanguages)
        if (inList(l.codes, ' ', code)) return &l;
    return nullptr;
}

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool isTagCharacter(char c) { return isAsciiLetter(c) || c == '_' || (c >= '0' && c <= '9'); }

// A dash after optional spaces at `at`: '-', or an en or em dash.
bool dashAt(std::string_view text, size_t at) {
    while (at < text.size() && text[at] == ' ') ++at;
    std::string_view rest = text.substr(at);
    return rest.substr(0, 1) == "-" || rest.substr(0, 3) == "\u2013" || rest.substr(0, 3) == "\u2014";
}

bool fileExists(const std::filesystem::path &path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// The encoding an .aff file's SET line names (Hunspell's default when none).
std::string affEncoding(const std::string &aff) {
    std::ifstream in(aff);
    std::string line;
    for (int n = 0; n < kAffLinesRead && std::getline(in, line); ++n) {
        if (line.compare(0, 4, "SET ") != 0) continue;
        std::string value = line.substr(4);
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
        return value;
    }
    return "ISO8859-1";
}

}  // namespace

#if defined(ZAVR_HAVE_HUNSPELL)
bool stemmingBuilt() { return true; }
#else
bool stemmingBuilt() { return false; }
#endif

namespace {

// The language whose name `text` starts with, and the name's length.
const Language *namedAt(std::string_view text, size_t *length) {
    for (const Language &l : kLanguages) {
        std::string_view names = l.names;
        for (size_t at = 0; at <= names.size();) {
            size_t end = names.find('|', at);
            if (end == std::string_view::npos) end = names.size();
            std::string_view one = names.substr(at, end - at);
            if (!one.empty() && text.substr(0, one.size()) == one) {
                *length = one.size();
                return &l;
            }
            at = end + 1;
        }
    }
    return nullptr;
}

}  // namespace

std::string languageOfName(std::string_view name) { return languagesOfName(name).first; }

std::pair<std::string, std::string> languagesOfName(std::string_view name) {
    std::string folded = foldCase(name);
    std::string_view text = folded;
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    size_t length = 0;
    if (const Language *first = namedAt(text, &length); first && dashAt(text, length)) {
        std::string_view rest = text.substr(length);
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        rest.remove_prefix(rest.substr(0, 1) == "-" ? 1 : 3);  // the dash
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        const Language *second = namedAt(rest, &length);
        return {first->code, second ? second->code : ""};
    }
    // "xxx-yyy" with letters on neither side, both known codes.
    for (size_t at = 0; at + 7 <= text.size(); ++at) {
        if (at > 0 && isAsciiLetter(text[at - 1])) continue;
        std::string_view pair = text.substr(at, 7);
        if (pair[3] != '-' || !std::all_of(pair.begin(), pair.begin() + 3, isAsciiLetter) ||
            !std::all_of(pair.begin() + 4, pair.end(), isAsciiLetter))
            continue;
        if (at + 7 < text.size() && isAsciiLetter(text[at + 7])) continue;
        const Language *first = byCode3(pair.substr(0, 3)), *second = byCode3(pair.substr(4, 3));
        if (first && second) return {first->code, second->code};
    }
    return {};
}

bool findDictionary(const std::string &language, Dictionary *out, std::string *why) {
    std::string tag = language;
    std::replace(tag.begin(), tag.end(), '-', '_');
    size_t bare = tag.find('_');
    std::string base = tag.substr(0, bare);
    bool wellFormed = base.size() >= 2 && base.size() <= 3 && std::all_of(base.begin(), base.end(), isAsciiLetter) &&
                      tag.size() <= 32 && std::all_of(tag.begin(), tag.end(), isTagCharacter);
    if (!wellFormed) {
        *why = "\"" + language + "\" is not a language (such as de or de_DE)";
        return false;
    }
    std::vector<std::string> names;
    if (bare != std::string::npos) {
        names.push_back(tag);
    } else {
        std::string region = base == "en" ? "US" : base;
        for (char &c : region) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        names = {base + "_" + region, base};
    }
    std::vector<std::filesystem::path> folders;
    if (const char *env = std::getenv("ZAVREADER_HUNSPELL_DIR"); env && *env) folders.emplace_back(env);
    folders.emplace_back("/usr/share/hunspell");
    for (const auto &folder : folders) {
        std::vector<std::string> here = names;
        if (bare == std::string::npos) {
            std::vector<std::string> regional;
            std::error_code ec;
            for (auto it = std::filesystem::directory_iterator(folder, ec);
                 !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
                std::string file = it->path().filename().string();
                if (file.size() > 4 && file.compare(file.size() - 4, 4, ".aff") == 0 &&
                    file.compare(0, base.size() + 1, base + "_") == 0)
                    regional.push_back(file.substr(0, file.size() - 4));
            }
            std::sort(regional.begin(), regional.end());
            here.insert(here.end(), regional.begin(), regional.end());
        }
        for (const std::string &name : here) {
            auto aff = folder / (name + ".aff"), dic = folder / (name + ".dic");
            if (!fileExists(aff) || !fileExists(dic)) continue;
            std::string encoding = affEncoding(aff.string());
            if (encoding != "UTF-8" && encoding != "utf-8") {
                *why = "the Hunspell dictionary " + aff.string() + " is in " + encoding + ", not UTF-8";
                return false;
            }
            *out = Dictionary{name, aff.string(), dic.string()};
            return true;
        }
    }
    *why = "no Hunspell dictionary for " + language + " (looked for " + names.front() + ".aff and .dic in " +
           (folders.size() > 1 ? "$ZAVREADER_HUNSPELL_DIR and " : "") + "/usr/share/hunspell)";
    return false;
}

Stemmer::Stemmer(Dictionary dictionary) : dictionary_(std::move(dictionary)) {}

Stemmer::~Stemmer() = default;

void Stemmer::loadLocked() {
#if defined(ZAVR_HAVE_HUNSPELL)
    if (!hunspell_) hunspell_ = std::make_unique<Hunspell>(dictionary_.aff.c_str(), dictionary_.dic.c_str());
#endif
}

void Stemmer::prepare() {
    std::lock_guard<std::mutex> lock(mutex_);
    loadLocked();
}

std::vector<std::string> Stemmer::stems(const std::string &word) {
    std::vector<std::string> out;
#if defined(ZAVR_HAVE_HUNSPELL)
    if (word.empty() || word.size() > kLongestStemmedWord || !isUtf8(word)) return out;
    std::vector<std::string> found;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        loadLocked();
        found = hunspell_->stem(word);
    }
    std::vector<std::string> folds = {foldCase(word)};
    for (std::string &stem : found) {
        if (out.size() >= kMostStems) break;
        std::string fold = foldCase(stem);
        if (stem.empty() || !isUtf8(stem) || std::find(folds.begin(), folds.end(), fold) != folds.end()) continue;
        folds.push_back(std::move(fold));
        out.push_back(std::move(stem));
    }
#else
    (void)word;
#endif
    return out;
}

}  // namespace zavreader
