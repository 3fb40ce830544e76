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

// True for a lead byte of a code page 932 double-byte character; its trail
// byte may be 0x5C, which then is no backslash.
inline bool codepage_is_lead_byte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
// Bytes of the character at text: 2 for a lead byte followed by a trail
// byte (0x40-0x7E, 0x80-0xFC), else 1.
inline int codepage_char_length(const char* text) {
    unsigned char trail = static_cast<unsigned char>(text[1]);
    return codepage_is_lead_byte(static_cast<unsigned char>(text[0])) &&
                   ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC))
               ? 2
               : 1;
}

// A path in the operating system's encoding, converted once at the boundary.
struct CodepagePath {
    char text[CODEPAGE_PATH_MAX];
};

inline bool codepage_path(CodepagePath* out, const char* cp932) {
    return cp932 && codepage_to_utf8(cp932, out->text, sizeof out->text);
}
