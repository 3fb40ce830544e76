#include <cerrno>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "platform/platform.h"

void platform_debug_output(const char* text) {
    std::fputs(text, stderr);
    std::fflush(stderr);
}

int platform_message_box(void*, const char* text, const char* caption, unsigned) {
    std::fprintf(stderr, "[%s] %s\n", caption ? caption : "", text ? text : "");
    return 1; // IDOK
}

int platform_error_code() {
    return errno;
}

void platform_error_restore(int code) {
    errno = code;
}

const char* platform_error_text(int code, char* buffer, uint32_t size) {
    if (size == 0) {
        return buffer;
    }
    // The XSI strerror_r fills the buffer; the GNU one may return its own text.
    auto text = strerror_r(code, buffer, size);
    if constexpr (std::is_same_v<decltype(text), char*>) {
        if (text != buffer) {
            std::snprintf(buffer, size, "%s", text);
        }
    }
    return buffer;
}

bool platform_error_is_denied(int code) {
    return code == EACCES || code == EPERM || code == EROFS;
}

bool platform_error_is_missing(int code) {
    return code == ENOENT || code == ENOTDIR;
}
