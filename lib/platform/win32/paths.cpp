#include <windows.h>

#include <cstring>
#include <shlwapi.h>

#include "platform/platform.h"
#include "platform/wildcard.h"

bool platform_module_path(char* buffer, uint32_t length) {
    // A path that does not fit comes back cut to length, not as a failure.
    DWORD result = GetModuleFileNameA(nullptr, buffer, length);
    return result != 0 && result < length;
}

const char* platform_path_find_file_name(const char* path) {
    return PathFindFileNameA(path);
}

char* platform_path_combine(char* dest, const char* folder, const char* file) {
    // PathCombineA copies a lone part of MAX_PATH or more cut short instead
    // of failing; refuse such parts before they can name another file.
    if ((folder && std::strlen(folder) >= MAX_PATH) || (file && std::strlen(file) >= MAX_PATH)) {
        if (dest) {
            dest[0] = '\0';
        }
        return nullptr;
    }
    return PathCombineA(dest, folder, file);
}

// PathMatchSpecA takes a lead byte and whatever follows it as one
// character, even a "/" or ":" that cannot be a trail byte; both builds use
// one matcher instead, so that a rule selects the same files on each.
bool platform_path_match_pattern(const char* path, const char* patterns) {
    return wildcard_match(path, patterns);
}
