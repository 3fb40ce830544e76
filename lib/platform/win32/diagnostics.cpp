#include <windows.h>

#include "platform/platform.h"

void platform_debug_output(const char* text) {
    OutputDebugStringA(text);
}

int platform_message_box(void* owner, const char* text, const char* caption, unsigned style) {
    return MessageBoxA(static_cast<HWND>(owner), text, caption, style);
}
