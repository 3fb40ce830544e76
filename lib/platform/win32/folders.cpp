#include <windows.h>

#include <shlobj.h>

#include "platform/platform.h"
#include "wide_path.h"

char platform_separator() {
    return '\\';
}

bool platform_current_dir(char* buffer, uint32_t length) {
    // Too small a buffer gives the size needed, which is never below length.
    wchar_t wide[WIDE_PATH_MAX];
    DWORD result = GetCurrentDirectoryW(WIDE_PATH_MAX, wide);
    return result != 0 && result < WIDE_PATH_MAX && platform_wide_to_cp932(wide, buffer, length);
}

bool platform_app_data_dir(char* buffer) {
    wchar_t wide[MAX_PATH];
    return SHGetSpecialFolderPathW(nullptr, wide, CSIDL_APPDATA, TRUE) != FALSE &&
           platform_wide_to_cp932(wide, buffer, MAX_PATH);
}

uint32_t platform_full_path(char* buffer, uint32_t length, const char* path) {
    WidePath wide, full;
    if (!wide_path(&wide, path)) {
        return 0;
    }
    DWORD units = GetFullPathNameW(wide.text, WIDE_PATH_MAX, full.text, nullptr);
    if (units == 0) {
        return 0;
    }
    if (units >= WIDE_PATH_MAX) {
        return units > length ? units : length; // fits no buffer of ours
    }
    // Converted whole first: callers compare the code page 932 length with
    // their buffer to tell a path that does not fit.
    char converted[2 * WIDE_PATH_MAX];
    if (!platform_wide_to_cp932(full.text, converted, sizeof converted)) {
        return 0;
    }
    uint32_t bytes = static_cast<uint32_t>(lstrlenA(converted));
    if (bytes >= length) {
        return bytes + 1; // the size needed, as GetFullPathName gives it
    }
    CopyMemory(buffer, converted, bytes + 1);
    return bytes;
}

uint32_t platform_attributes(const char* path) {
    DWORD attributes = wide_path_attributes(path);
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
    WidePath wide;
    return wide_path(&wide, path) && CreateDirectoryW(wide.text, nullptr) != 0;
}

bool platform_remove_dir(const char* path) {
    WidePath wide;
    return wide_path(&wide, path) && RemoveDirectoryW(wide.text) != 0;
}
