#include <windows.h>

#include "platform/platform.h"

void platform_debug_output(const char* text) {
    OutputDebugStringA(text);
}

int platform_message_box(void* owner, const char* text, const char* caption, unsigned style) {
    return MessageBoxA(static_cast<HWND>(owner), text, caption, style);
}

int platform_error_code() {
    return static_cast<int>(GetLastError());
}

void platform_error_restore(int code) {
    SetLastError(static_cast<DWORD>(code));
}

const char* platform_error_text(int code, char* buffer, uint32_t size) {
    if (size == 0) {
        return buffer;
    }
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(code), 0, buffer, size, nullptr);
    if (length == 0) {
        wsprintfA(buffer, "error %d", code);
        return buffer;
    }
    // FormatMessage ends its text with a line end (and often a period).
    while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r' ||
                          buffer[length - 1] == ' ')) {
        buffer[--length] = '\0';
    }
    return buffer;
}

bool platform_error_is_denied(int code) {
    return code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT ||
           code == ERROR_SHARING_VIOLATION;
}

bool platform_error_is_missing(int code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}
