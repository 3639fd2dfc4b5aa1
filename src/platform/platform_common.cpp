// The parts of the platform layer that are the same on every system: the
// position arithmetic of book files and the table pointer.
#include "platform.h"

namespace tovix {

const PlatformMethods *gPlatform = &kNativePlatform;

bool seekTo(BookFile *file, uint64_t position) {
    if (position > 0x7FFFFFFFu) return false;
    return gPlatform->seek(file, static_cast<int32_t>(position), SEEK_FROM_START) >= 0;
}

bool seekBy(BookFile *file, int64_t distance) {
    if (distance > 0x7FFFFFFF || distance < -0x7FFFFFFF - 1) return false;
    return gPlatform->seek(file, static_cast<int32_t>(distance), SEEK_FROM_CURRENT) >= 0;
}

int64_t readSome(BookFile *file, void *buffer, uint32_t n) {
    if (n == 0) return 0;
    int64_t got = gPlatform->readAt(file->native, buffer, n, static_cast<uint32_t>(file->position));
    if (got > 0) {
        int64_t next = static_cast<int64_t>(file->position) + got;
        file->position = next > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(next);
    }
    return got;
}

bool readExact(BookFile *file, void *buffer, uint32_t n) {
    if (n == 0) return true;
    return readSome(file, buffer, n) == static_cast<int64_t>(n);
}

// Shared by every native table: the seek contract of the module.
int32_t seekPosition(BookFile *file, int32_t distance, SeekOrigin origin) {
    int64_t base = origin == SEEK_FROM_START ? 0 : file->position;
    int64_t next = base + distance;
    if (next < 0 || next > 0x7FFFFFFF) return -1;
    file->position = static_cast<int32_t>(next);
    return file->position;
}

}  // namespace tovix
