// How POSIX file modes stand in for the Win32 attribute bits.
#pragma once

#include <sys/stat.h>

#include "platform/platform.h"

// Windows keeps a read-only attribute that refuses writing and deleting; a
// file or folder that nobody may write stands for it here.
inline bool posix_mode_read_only(mode_t mode) {
    return (mode & 0222) == 0;
}

inline uint32_t posix_attributes(mode_t mode) {
    uint32_t bits = 0;
    if (S_ISDIR(mode)) {
        bits |= PLATFORM_ATTRIBUTE_DIRECTORY;
    }
    // A dangling link lists with its own mode; it stays a file that fails
    // to open, not a special file.
    if (S_ISFIFO(mode) || S_ISSOCK(mode) || S_ISCHR(mode) || S_ISBLK(mode)) {
        bits |= PLATFORM_ATTRIBUTE_SPECIAL;
    }
    if (posix_mode_read_only(mode)) {
        bits |= PLATFORM_ATTRIBUTE_READONLY;
    }
    return bits;
}
