// Conversion between the code page 932 strings of the platform interface and
// the UTF-8 names of the POSIX file system. A name that has no form in the
// other encoding is a failure, never a substituted character: a changed name
// would open or list a different file.
#pragma once

#include <cstddef>

// Large enough for any path the library forms (512 bytes of code page 932
// grow to at most 1536 bytes of UTF-8).
constexpr size_t CODEPAGE_PATH_MAX = 4096;

// Both return false when the text cannot be converted or the result with its
// NUL does not fit size bytes.
bool codepage_to_utf8(const char* cp932, char* utf8, size_t size);
bool codepage_from_utf8(const char* utf8, char* cp932, size_t size);

// A path in the operating system's encoding, converted once at the boundary.
struct CodepagePath {
    char text[CODEPAGE_PATH_MAX];
};

inline bool codepage_path(CodepagePath* out, const char* cp932) {
    return cp932 && codepage_to_utf8(cp932, out->text, sizeof out->text);
}
