// Layout of a ZoZizID dictionary file, shared by the engine and its writer.
// All integers are little-endian; every offset is absolute from the file
// start. See ZoZizID.h for the description a host developer reads.
#ifndef ZOZIZID_DICT_FORMAT_H
#define ZOZIZID_DICT_FORMAT_H

#include <stdint.h>

namespace zozizid {
namespace format {

constexpr unsigned char kMagic[4] = {'Z', 'Z', 'I', 'D'};
constexpr uint32_t kVersion = 1;
constexpr uint32_t kHeaderSize = 48;

// Header field positions.
constexpr uint32_t kOffMagic = 0;
constexpr uint32_t kOffVersion = 4;
constexpr uint32_t kOffHeaderSize = 8;
constexpr uint32_t kOffDictId = 12;
constexpr uint32_t kOffWordCount = 16;
constexpr uint32_t kOffIndexOffset = 20;
constexpr uint32_t kOffWordsOffset = 24;
constexpr uint32_t kOffWordsSize = 28;
constexpr uint32_t kOffRecordsOffset = 32;
constexpr uint32_t kOffRecordsSize = 36;
constexpr uint32_t kOffFileSize = 40;

constexpr uint32_t kIndexEntrySize = 8;     // u32 word offset, u32 record offset
constexpr uint32_t kContentEntrySize = 12;  // u32 content id, u32 data offset, u32 length

constexpr uint32_t kMaxWordLength = 65535;
constexpr uint32_t kMaxContents = 1024;
constexpr uint32_t kMaxContentLength = 0x7FFFFFFFu;

}  // namespace format
}  // namespace zozizid

#endif
