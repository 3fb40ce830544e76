#include "fs/disk_fs.h"
#include "platform/platform.h"

int disk_current_dir(char* buffer, uint32_t length) {
    return platform_current_dir(buffer, length) ? 1 : 0;
}

int disk_app_data_dir(char* buffer) {
    return platform_app_data_dir(buffer) ? 1 : 0;
}

uint32_t disk_full_path(char* buffer, uint32_t length, const char* path) {
    return platform_full_path(buffer, length, path);
}

// A path that does not exist has no attributes: reporting the failure value
// as bits would call it a read-only folder.
uint32_t disk_attributes(const char* path) {
    uint32_t bits = platform_attributes(path);
    if (bits == PLATFORM_ATTRIBUTES_INVALID) {
        return 0;
    }
    uint32_t attributes = 0;
    if (bits & PLATFORM_ATTRIBUTE_DIRECTORY) {
        attributes |= DIRENTRY_DIRECTORY;
    }
    if (bits & PLATFORM_ATTRIBUTE_READONLY) {
        attributes |= DIRENTRY_READONLY;
    }
    return attributes;
}

int disk_make_dir(const char* path) {
    return platform_make_dir(path) ? 1 : 0;
}

int disk_remove_dir(const char* path) {
    return platform_remove_dir(path) ? 1 : 0;
}
