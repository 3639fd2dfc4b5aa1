// Little-endian values appended to an output that has raw(data, n): the
// in-memory image of a book and the streaming writer's sink share it.
#ifndef ZAV_WRITER_PUT_LE_H
#define ZAV_WRITER_PUT_LE_H

#include <stdint.h>

#include "tovix/le.h"

namespace zav {

template <typename Output>
class PutLittleEndian {
public:
    void u16(uint16_t v) {
        unsigned char b[2];
        tovix::putLe16(b, v);
        static_cast<Output *>(this)->raw(b, sizeof b);
    }
    void u32(uint32_t v) {
        unsigned char b[4];
        tovix::putLe32(b, v);
        static_cast<Output *>(this)->raw(b, sizeof b);
    }
};

}  // namespace zav

#endif
