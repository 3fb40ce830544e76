#include <windows.h>

#include <cstring>
#include <shlwapi.h>

#include "platform/platform.h"
#include "platform/wildcard.h"
#include "wide_path.h"

namespace {

// A lead byte of a code page 932 double-byte character; its trail byte may
// be 0x5C, which then is no backslash. Decided here, not by the system's
// ANSI code page, which on a Windows of another language splits "表"
// (0x95 0x5C) at its trail byte.
bool lead_byte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool separator(char c) {
    return c == '\\' || c == '/';
}

} // namespace

bool platform_module_path(char* buffer, uint32_t length) {
    // A path that does not fit comes back cut to length, not as a failure.
    wchar_t wide[WIDE_PATH_MAX];
    DWORD result = GetModuleFileNameW(nullptr, wide, WIDE_PATH_MAX);
    return result != 0 && result < WIDE_PATH_MAX && platform_wide_to_cp932(wide, buffer, length);
}

const char* platform_path_find_file_name(const char* path) {
    if (!path) {
        return nullptr;
    }
    // As PathFindFileNameA: after the last "\\", "/" or ":" that has a name
    // after it, so "a\\b\\" gives "b\\".
    const char* name = path;
    for (const char* at = path; *at != '\0';) {
        if ((separator(*at) || *at == ':') && at[1] != '\0' && !separator(at[1])) {
            name = at + 1;
        }
        at += lead_byte(static_cast<unsigned char>(*at)) && at[1] != '\0' ? 2 : 1;
    }
    return name;
}

char* platform_path_combine(char* dest, const char* folder, const char* file) {
    // PathCombine copies a lone part of MAX_PATH or more cut short instead
    // of failing; refuse such parts before they can name another file.
    if ((folder && std::strlen(folder) >= MAX_PATH) || (file && std::strlen(file) >= MAX_PATH)) {
        if (dest) {
            dest[0] = '\0';
        }
        return nullptr;
    }
    if (!dest) {
        return nullptr;
    }
    dest[0] = '\0';
    WidePath wide_folder, wide_file;
    if ((folder && !wide_path(&wide_folder, folder)) || (file && !wide_path(&wide_file, file))) {
        return nullptr;
    }
    wchar_t joined[MAX_PATH];
    if (!PathCombineW(joined, folder ? wide_folder.text : nullptr,
                      file ? wide_file.text : nullptr)) {
        return nullptr;
    }
    // The join of two code page 932 texts converts back; what does not fit
    // the 260 bytes fails instead of being cut.
    return platform_wide_to_cp932(joined, dest, MAX_PATH) ? dest : nullptr;
}

// PathMatchSpecA takes a lead byte and whatever follows it as one
// character, even a "/" or ":" that cannot be a trail byte; both builds use
// one matcher instead, so that a rule selects the same files on each.
bool platform_path_match_pattern(const char* path, const char* patterns) {
    return wildcard_match(path, patterns);
}
