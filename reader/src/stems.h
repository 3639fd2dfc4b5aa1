// Stem look-ups: the language a book's headwords are in, the Hunspell
// dictionary of a language, and the stems Hunspell gives for a word.
#ifndef ZAV_READER_STEMS_H
#define ZAV_READER_STEMS_H

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class Hunspell;

namespace zavreader {

// Whether the library was built with Hunspell.
bool stemmingBuilt();

// The language (a two-letter code, "de") of the headwords of a book whose
// name, table name or file name is `name`, or "" when it does not say. A
// name says so when it starts with a language's name in English or in the
// language itself followed by a dash ("German - English ...",
// "Deutsch-ελληνικά ..."), or when it holds two three-letter language codes
// joined by a dash ("freedict-deu-eng"): the first language of the pair is
// the headwords'.
std::string languageOfName(std::string_view name);
// The same, and the language of the texts when the name names a pair (the
// second, "en" for "German - English"; else "").
std::pair<std::string, std::string> languagesOfName(std::string_view name);

// A Hunspell dictionary: its name ("de_DE") and files.
struct Dictionary {
    std::string name, aff, dic;
};

// The Hunspell dictionary for `language` ("de", "de_DE" or "de-DE"), looked
// for in $ZAVREADER_HUNSPELL_DIR, then /usr/share/hunspell: a language with a
// region takes that dictionary; a bare one its usual region (de_DE, fr_FR,
// en_US, else xx_XX), then "xx", then the first "xx_*" by name. False with
// *why when there is none, or when its .aff does not say SET UTF-8.
bool findDictionary(const std::string &language, Dictionary *out, std::string *why);

// One Hunspell dictionary, loaded at the first need and shared by every
// database of its language; its calls are taken one at a time.
class Stemmer {
public:
    explicit Stemmer(Dictionary dictionary);
    ~Stemmer();
    Stemmer(const Stemmer &) = delete;
    Stemmer &operator=(const Stemmer &) = delete;

    const std::string &name() const { return dictionary_.name; }
    const std::string &aff() const { return dictionary_.aff; }
    // Up to 8 stems of a UTF-8 word of at most 100 bytes, each once (letter
    // case aside) and none equal to the word in any case; none for a longer
    // word or one that is not UTF-8.
    std::vector<std::string> stems(const std::string &word);
    // Load the dictionary now rather than at the first word.
    void prepare();

private:
    void loadLocked();

    Dictionary dictionary_;
    std::mutex mutex_;
    std::unique_ptr<Hunspell> hunspell_;
};

}  // namespace zavreader

#endif
