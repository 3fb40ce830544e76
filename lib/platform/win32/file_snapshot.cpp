#include <windows.h>

#include "platform/platform.h"

// The file itself, with a share mode that refuses writers, renamers and
// deleters for as long as the handle is open: the bytes cannot change under
// it, so no copy is needed.

PlatformFile platform_file_snapshot(const char* path) {
    return platform_file_open(path, PLATFORM_ACCESS_READ | PLATFORM_ACCESS_DENY_WRITERS,
                              PLATFORM_OPEN_EXISTING);
}

bool platform_file_snapshot_is_original() {
    return true;
}
