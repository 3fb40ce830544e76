// The library's text is code page 932, as the archives' names are; Windows
// takes names and texts as UTF-16 (the W functions). Converting with code
// page 932 itself, never the system's ANSI code page, keeps the program
// working on a Windows set to any language.
#pragma once

#if defined(_WIN32)

#include <cstdint>

// Converts NUL-terminated code page 932 text into wide (size units with the
// NUL). False, with wide empty, when a byte sequence is no code page 932
// character (GetLastError: ERROR_NO_UNICODE_TRANSLATION) or the result does
// not fit (ERROR_INSUFFICIENT_BUFFER).
bool platform_wide_from_cp932(const char* text, wchar_t* wide, uint32_t size);

// Converts NUL-terminated UTF-16 into code page 932 (size bytes with the
// NUL). A character with no code page 932 form fails the whole text
// (ERROR_NO_UNICODE_TRANSLATION): a lookalike or a "?" in its place would
// name another file. ERROR_INSUFFICIENT_BUFFER when it does not fit.
bool platform_wide_to_cp932(const wchar_t* wide, char* text, uint32_t size);

// The same for text that is only shown (a message, a field of the dialog
// read from an archive): a byte sequence that is no code page 932 character
// becomes a stand-in character instead of failing the text; the result is
// cut to size.
void platform_wide_from_cp932_shown(const char* text, wchar_t* wide, uint32_t size);

// The reverse for text that is only shown (messages, an entry's name in a
// report): what has no form becomes "?" instead of failing. The result is
// cut to size on a character boundary.
void platform_wide_to_cp932_shown(const wchar_t* wide, char* text, uint32_t size);

#endif
