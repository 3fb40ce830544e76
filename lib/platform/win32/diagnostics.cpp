#include <windows.h>

#include "platform/platform.h"
#include "wide_path.h"

namespace {

// Texts of the library are code page 932; the W functions show them right
// on a Windows of any language.
struct ShownText {
    wchar_t text[1100]; // a message of 1024 bytes with room to spare

    explicit ShownText(const char* narrow) {
        platform_wide_from_cp932_shown(narrow, text, sizeof text / sizeof text[0]);
    }
};

} // namespace

void platform_debug_output(const char* text) {
    OutputDebugStringW(ShownText(text).text);
}

int platform_message_box(void* owner, const char* text, const char* caption, unsigned style) {
    return MessageBoxW(static_cast<HWND>(owner), ShownText(text).text, ShownText(caption).text,
                       style);
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
    // The system's words in its own language, as code page 932 text: what
    // that code page cannot show becomes "?".
    wchar_t wide[512];
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, wide, sizeof wide / sizeof wide[0], nullptr);
    if (length == 0) {
        wsprintfA(buffer, "error %d", code);
        return buffer;
    }
    // FormatMessage ends its text with a line end (and often a period).
    while (length > 0 &&
           (wide[length - 1] == L'\n' || wide[length - 1] == L'\r' || wide[length - 1] == L' ')) {
        wide[--length] = L'\0';
    }
    platform_wide_to_cp932_shown(wide, buffer, size);
    return buffer;
}

bool platform_error_is_denied(int code) {
    return code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT ||
           code == ERROR_SHARING_VIOLATION;
}

bool platform_error_is_missing(int code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}
