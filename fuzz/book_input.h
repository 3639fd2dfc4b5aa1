// The input of the book targets (book_fuzz, check_fuzz): a plan of calls,
// a book image, and optionally a dictionary file of the engine and a memo
// sidecar, which are written beside the book so that the module finds the
// engine's dictionary and the memo library its memos.
//
// Layout: byte 0 is the plan length P (cut to the input), bytes 1..P the
// plan, the rest the files: the book, then D bytes of dictionary file, then
// M bytes of memo sidecar, each length cut to what is left. The plan reads
// as: a flags byte, u32 D, u32 M, then the calls (past its end it reads as
// zeros). Flags: kKeepStoredSize keeps the sizes the dictionary and the
// sidecar store (otherwise set to their real sizes, so that mutations get
// past the header checks); kKeepDictId keeps the dictionary's stored dictId
// and names the file after it (otherwise both are the dictId of the book's
// table 0, so that the book finds the dictionary).
#ifndef TOVIX_FUZZ_BOOK_INPUT_H
#define TOVIX_FUZZ_BOOK_INPUT_H

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "TovixZAV_JC.h"
#include "fuzz_support.h"

namespace fuzz {

constexpr uint8_t kKeepDictId = 2;

struct Section {
    size_t at = 0;  // position in the input
    size_t size = 0;
};

struct BookInput {
    Plan plan;  // positioned at the first call
    uint8_t flags = 0;
    Section book, dictionary, memo;
};

BookInput splitBookInput(const uint8_t *data, size_t size);

// The book of an input written to the scratch folder, its sidecar beside it
// (or none), its dictionary in the scratch folder (the engine's folder);
// removed by the destructor. The dictionary is written by placeDictionary,
// once the book is open (its name may depend on the book's dictId).
class BookFiles {
public:
    BookFiles(const uint8_t *data, const BookInput &input);
    ~BookFiles();
    BookFiles(const BookFiles &) = delete;
    BookFiles &operator=(const BookFiles &) = delete;
    const std::string &bookPath() const { return book_; }
    void placeDictionary(BookHandle book);

private:
    const uint8_t *data_;
    const BookInput &input_;
    std::string book_, memo_, dictionary_;
};

}  // namespace fuzz

#endif
