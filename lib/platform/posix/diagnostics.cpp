#include <cstdio>

#include "platform/platform.h"

void platform_debug_output(const char* text) {
    std::fputs(text, stderr);
    std::fflush(stderr);
}

int platform_message_box(void*, const char* text, const char* caption, unsigned) {
    std::fprintf(stderr, "[%s] %s\n", caption ? caption : "", text ? text : "");
    return 1; // IDOK
}
