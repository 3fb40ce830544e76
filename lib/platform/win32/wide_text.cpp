#include <windows.h>

#include "platform/wide_text.h"

namespace {

constexpr UINT CODE_PAGE_932 = 932;

} // namespace

bool platform_wide_from_cp932(const char* text, wchar_t* wide, uint32_t size) {
    if (!text || !wide || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // -1: the NUL is converted too, so an empty text gives 1 unit.
    int units = MultiByteToWideChar(CODE_PAGE_932, MB_ERR_INVALID_CHARS, text, -1, wide,
                                    static_cast<int>(size));
    if (units <= 0) {
        wide[0] = L'\0';
        return false;
    }
    return true;
}

void platform_wide_from_cp932_shown(const char* text, wchar_t* wide, uint32_t size) {
    if (!wide || size == 0) {
        return;
    }
    wide[0] = L'\0';
    if (!text || platform_wide_from_cp932(text, wide, size)) {
        return;
    }
    int units = MultiByteToWideChar(CODE_PAGE_932, 0, text, -1, nullptr, 0);
    if (units <= 0) {
        return;
    }
    if (static_cast<uint32_t>(units) <= size) {
        MultiByteToWideChar(CODE_PAGE_932, 0, text, -1, wide, static_cast<int>(size));
        return;
    }
    // Too long: the first size - 1 units of the whole conversion.
    wchar_t* whole = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, units * sizeof *wide));
    if (!whole) {
        return;
    }
    MultiByteToWideChar(CODE_PAGE_932, 0, text, -1, whole, units);
    CopyMemory(wide, whole, (size - 1) * sizeof *wide);
    wide[size - 1] = L'\0';
    HeapFree(GetProcessHeap(), 0, whole);
}

bool platform_wide_to_cp932(const wchar_t* wide, char* text, uint32_t size) {
    if (!wide || !text || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // WC_NO_BEST_FIT_CHARS keeps e.g. "é" from becoming "e"; what is left
    // without a form sets the used-default flag instead.
    BOOL used_default = FALSE;
    int bytes = WideCharToMultiByte(CODE_PAGE_932, WC_NO_BEST_FIT_CHARS, wide, -1, text,
                                    static_cast<int>(size), nullptr, &used_default);
    if (bytes <= 0) {
        text[0] = '\0';
        return false;
    }
    if (used_default) {
        text[0] = '\0';
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
    return true;
}

void platform_wide_to_cp932_shown(const wchar_t* wide, char* text, uint32_t size) {
    if (!text || size == 0) {
        return;
    }
    text[0] = '\0';
    if (!wide) {
        return;
    }
    int bytes = WideCharToMultiByte(CODE_PAGE_932, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return;
    }
    if (static_cast<uint32_t>(bytes) <= size) {
        WideCharToMultiByte(CODE_PAGE_932, 0, wide, -1, text, static_cast<int>(size), nullptr,
                            nullptr);
        return;
    }
    // Too long: convert fewer characters until the text fits, so that no
    // double-byte character is cut in half.
    int units = lstrlenW(wide);
    while (units > 0) {
        --units;
        if (units > 0 && IS_LOW_SURROGATE(wide[units])) {
            --units;
        }
        int part = WideCharToMultiByte(CODE_PAGE_932, 0, wide, units, nullptr, 0, nullptr, nullptr);
        if (part >= 0 && static_cast<uint32_t>(part) < size) {
            WideCharToMultiByte(CODE_PAGE_932, 0, wide, units, text, part, nullptr, nullptr);
            text[part] = '\0';
            return;
        }
    }
}
