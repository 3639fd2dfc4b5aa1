// One carrier of "failed, and why" inside the reader library: a status code
// of the public header and a reason that is never empty when the code is
// not ZAVR_OK.
#ifndef ZAV_READER_STATUS_H
#define ZAV_READER_STATUS_H

#include <string>
#include <utility>

#include "ZAVReader.h"

namespace zavreader {

struct Status {
    int32_t code = ZAVR_OK;
    std::string reason;

    static Status ok() { return {}; }
    static Status fail(int32_t code, std::string reason) { return {code, std::move(reason)}; }
    bool good() const { return code == ZAVR_OK; }
    explicit operator bool() const { return good(); }
};

}  // namespace zavreader

#endif
