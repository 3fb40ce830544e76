#include <cstring>
#include <unistd.h>

#include "codepage.h"
#include "path_canonical.h"
#include "platform/cp932_char.h"
#include "platform/platform.h"
#include "platform/wildcard.h"

// The shell's path buffers hold MAX_PATH bytes.
constexpr size_t PATH_COMBINE_SIZE = 260;

bool platform_module_path(char* buffer, uint32_t length) {
    char native[CODEPAGE_PATH_MAX];
    ssize_t used = readlink("/proc/self/exe", native, sizeof native - 1);
    if (used <= 0 || !buffer || length == 0) {
        return false;
    }
    native[used] = '\0';
    return codepage_from_utf8(native, buffer, length);
}

const char* platform_path_find_file_name(const char* path) {
    if (!path) {
        return nullptr;
    }
    // As PathFindFileNameA: a separator counts only when a name follows it,
    // so "a/b/" gives "b/"; the trail byte of a double-byte character is
    // part of that character even when it is 0x5C.
    const char* name = path;
    for (const char* at = path; *at != '\0';) {
        if ((*at == '/' || *at == '\\') && at[1] != '\0' && at[1] != '/' && at[1] != '\\') {
            name = at + 1;
        }
        at += cp932_char_length(at);
    }
    return name;
}

char* platform_path_combine(char* dest, const char* folder, const char* file) {
    if (!dest) {
        return nullptr;
    }
    dest[0] = '\0';
    if (!folder && !file) {
        return nullptr;
    }
    folder = folder ? folder : "";
    file = file ? file : "";
    size_t folder_length = std::strlen(folder);
    size_t file_length = std::strlen(file);
    // An absolute file or an empty side stands alone; otherwise one "/"
    // goes between the parts. The whole must fit before it is cleaned up,
    // as it must for PathCombineA: nothing is cut short silently.
    bool file_alone = file_length > 0 && (folder_length == 0 || file[0] == '/');
    bool join = !file_alone && file_length > 0;
    bool add_separator = join && folder[folder_length - 1] != '/';
    size_t total = file_alone ? file_length
                   : join     ? folder_length + (add_separator ? 1 : 0) + file_length
                              : folder_length;
    if (total >= PATH_COMBINE_SIZE) {
        return nullptr;
    }
    if (file_alone) {
        std::memcpy(dest, file, file_length + 1);
    } else {
        std::memcpy(dest, folder, folder_length + 1);
        if (add_separator) {
            dest[folder_length++] = '/';
        }
        if (join) {
            std::memcpy(dest + folder_length, file, file_length + 1);
        }
    }
    posix_path_canonicalize(dest);
    return dest;
}

bool platform_path_match_pattern(const char* path, const char* patterns) {
    return wildcard_match(path, patterns);
}
