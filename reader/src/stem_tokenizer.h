// The search index's tokenizer for stemmed texts: FTS5's own unicode61
// tokenizer, each of whose words is then stemmed by a Snowball stemmer
// (libstemmer) of the texts' language. Its arguments in a table's
// definition: the stemmer's name ("english", "german", ...), then
// unicode61's own.
#ifndef ZAV_READER_STEM_TOKENIZER_H
#define ZAV_READER_STEM_TOKENIZER_H

#include <string>

struct sqlite3;

namespace zavreader {

// The tokenizer's name in a table's definition.
constexpr const char *kStemTokenizer = "zavstem";

// Makes the tokenizer known to `db`; false when it cannot be.
bool registerStemTokenizer(sqlite3 *db);

// The Snowball stemmer for a language ("de", "deu", "german", ...), by the
// name libstemmer knows it, or "" when there is none.
std::string snowballStemmer(const std::string &language);

}  // namespace zavreader

#endif
