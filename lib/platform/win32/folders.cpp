#include <windows.h>

#include <shlobj.h>

#include "platform/platform.h"

char platform_separator() {
    return '\\';
}

bool platform_current_dir(char* buffer, uint32_t length) {
    // Too small a buffer gives the size needed, which is never below length.
    DWORD result = GetCurrentDirectoryA(length, buffer);
    return result != 0 && result < length;
}

bool platform_app_data_dir(char* buffer) {
    return SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_APPDATA, TRUE) != FALSE;
}

uint32_t platform_full_path(char* buffer, uint32_t length, const char* path) {
    return GetFullPathNameA(path, length, buffer, nullptr);
}

uint32_t platform_attributes(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return PLATFORM_ATTRIBUTES_INVALID;
    }
    // Windows' own values differ (FILE_ATTRIBUTE_DIRECTORY is 0x10, and 0x80
    // means "normal"), so the bits are translated, not passed on.
    uint32_t bits = 0;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        bits |= PLATFORM_ATTRIBUTE_DIRECTORY;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        bits |= PLATFORM_ATTRIBUTE_READONLY;
    }
    if (attributes & FILE_ATTRIBUTE_DEVICE) {
        bits |= PLATFORM_ATTRIBUTE_SPECIAL;
    }
    return bits;
}

bool platform_make_dir(const char* path) {
    return CreateDirectoryA(path, nullptr) != 0;
}

bool platform_remove_dir(const char* path) {
    return RemoveDirectoryA(path) != 0;
}
