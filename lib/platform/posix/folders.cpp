#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "attributes.h"
#include "codepage.h"
#include "path_canonical.h"
#include "platform/platform.h"

char platform_separator() {
    return '/';
}

bool platform_current_dir(char* buffer, uint32_t length) {
    char native[CODEPAGE_PATH_MAX];
    if (!buffer || length == 0 || !getcwd(native, sizeof native)) {
        return false;
    }
    return codepage_from_utf8(native, buffer, length);
}

// Creates every missing folder of an absolute UTF-8 path, as the shell does
// for its special folders.
static bool folder_create_all(char* native) {
    for (char* slash = std::strchr(native + 1, '/');; slash = std::strchr(slash + 1, '/')) {
        if (slash) {
            *slash = '\0';
        }
        bool made = mkdir(native, 0700) == 0 || errno == EEXIST;
        if (slash) {
            *slash = '/';
        }
        if (!made) {
            return false;
        }
        if (!slash || slash[1] == '\0') {
            break;
        }
    }
    struct stat info;
    return stat(native, &info) == 0 && S_ISDIR(info.st_mode);
}

bool platform_app_data_dir(char* buffer) {
    char native[CODEPAGE_PATH_MAX];
    // A relative XDG_DATA_HOME is invalid and ignored, as the XDG rules ask.
    const char* data_home = std::getenv("XDG_DATA_HOME");
    if (data_home && data_home[0] == '/') {
        if (std::strlen(data_home) >= sizeof native) {
            return false;
        }
        std::strcpy(native, data_home);
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') {
            const passwd* entry = getpwuid(getuid());
            home = entry ? entry->pw_dir : nullptr;
        }
        if (!home || home[0] != '/' || std::strlen(home) + sizeof "/.local/share" > sizeof native) {
            return false;
        }
        std::strcpy(native, home);
        std::strcat(native, "/.local/share");
    }
    // The platform's folders carry no trailing separator.
    size_t length = std::strlen(native);
    while (length > 1 && native[length - 1] == '/') {
        native[--length] = '\0';
    }
    if (!folder_create_all(native)) {
        return false;
    }
    return codepage_from_utf8(native, buffer, 260);
}

uint32_t platform_full_path(char* buffer, uint32_t length, const char* path) {
    if (!path || path[0] == '\0') {
        return 0; // GetFullPathNameA has nothing to resolve either
    }
    char full[CODEPAGE_PATH_MAX];
    size_t used = 0;
    if (path[0] != '/') {
        if (!platform_current_dir(full, sizeof full)) {
            return 0;
        }
        used = std::strlen(full);
        full[used++] = '/';
    }
    size_t path_length = std::strlen(path);
    if (used + path_length >= sizeof full) {
        return 0;
    }
    std::memcpy(full + used, path, path_length + 1);
    posix_path_canonicalize(full);

    uint32_t result = static_cast<uint32_t>(std::strlen(full));
    if (result >= length) {
        if (buffer && length > 0) {
            buffer[0] = '\0';
        }
        return result + 1; // the size needed, NUL included, as Windows reports it
    }
    std::memcpy(buffer, full, result + 1);
    return result;
}

uint32_t platform_attributes(const char* path) {
    CodepagePath native;
    struct stat info;
    if (!codepage_path(&native, path) || stat(native.text, &info) != 0) {
        return PLATFORM_ATTRIBUTES_INVALID;
    }
    return posix_attributes(info.st_mode);
}

bool platform_make_dir(const char* path) {
    CodepagePath native;
    return codepage_path(&native, path) && mkdir(native.text, 0777) == 0;
}

bool platform_remove_dir(const char* path) {
    CodepagePath native;
    return codepage_path(&native, path) && rmdir(native.text) == 0;
}
