// Layout of a ZAVMemo sidecar file, shared by the memo library and its
// writer. Integers are little-endian; offsets are absolute. See ZAVMemo.h.
#ifndef ZAVMEMO_MEMO_FORMAT_H
#define ZAVMEMO_MEMO_FORMAT_H

#include <stdint.h>

#include "ZAVMemo.h"

namespace zavmemo {
namespace format {

constexpr unsigned char kMagic[4] = {'Z', 'M', 'E', 'M'};
constexpr uint32_t kVersion = 1;
constexpr uint32_t kHeaderSize = 16;  // magic, u32 version, u32 count, u32 file size
constexpr uint32_t kOffVersion = 4;
constexpr uint32_t kOffCount = 8;
constexpr uint32_t kOffFileSize = 12;
constexpr uint32_t kEntrySize = 12;  // u32 page, u32 text offset, u32 text length
constexpr uint32_t kMaxMemoLength = ZAVMEMO_MAX_MEMO;
constexpr uint32_t kMaxMemos = 1000000;
constexpr uint32_t kMaxFileSize = 0x7FFFFFFFu;
constexpr const char kSidecarSuffix[] = ZAVMEMO_SIDECAR_SUFFIX;

}  // namespace format
}  // namespace zavmemo

#endif
