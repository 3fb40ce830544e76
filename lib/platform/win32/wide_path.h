// Every path the platform layer hands to Windows goes through wide_path: the
// W functions get the path's UTF-16, converted from code page 932.
#pragma once

#include <windows.h>

#include "platform/wide_text.h"

// Room for any path the library forms (512 bytes of code page 932 are at
// most 512 UTF-16 units) and for what Windows returns for it.
constexpr uint32_t WIDE_PATH_MAX = 1024;

struct WidePath {
    wchar_t text[WIDE_PATH_MAX];
};

// False when path is null, holds bytes that are no code page 932 character
// or is too long (GetLastError says which); such a path is refused, never
// passed on changed.
inline bool wide_path(WidePath* out, const char* path) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return platform_wide_from_cp932(path, out->text, WIDE_PATH_MAX);
}

// GetFileAttributesW of a code page 932 path; INVALID_FILE_ATTRIBUTES also
// for a path that does not convert (GetLastError says why).
inline DWORD wide_path_attributes(const char* path) {
    WidePath wide;
    return wide_path(&wide, path) ? GetFileAttributesW(wide.text) : INVALID_FILE_ATTRIBUTES;
}
