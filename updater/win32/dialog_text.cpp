#include "dialog_text.h"

#include <vector>

#include "platform/wide_text.h"

std::wstring dialog_wide(const char* text) {
    if (!text || !*text) {
        return std::wstring();
    }
    // No code page 932 text is longer in UTF-16 units than in bytes.
    std::vector<wchar_t> wide(lstrlenA(text) + 1);
    platform_wide_from_cp932_shown(text, wide.data(), static_cast<uint32_t>(wide.size()));
    return wide.data();
}

void dialog_set_text(HWND dialog, int control, const char* text) {
    SetDlgItemTextW(dialog, control, dialog_wide(text).c_str());
}

std::wstring dialog_item_text(HWND dialog, int control) {
    HWND item = GetDlgItem(dialog, control);
    int length = item ? GetWindowTextLengthW(item) : 0;
    if (length <= 0) {
        return std::wstring();
    }
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1);
    int got = GetWindowTextW(item, text.data(), length + 1);
    return std::wstring(text.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

bool dialog_path_cp932(const std::wstring& wide, std::string* path) {
    path->clear();
    // A UTF-16 unit becomes at most two bytes (a surrogate pair has no
    // form at all).
    std::vector<char> text(2 * wide.size() + 1);
    if (!platform_wide_to_cp932(wide.c_str(), text.data(), static_cast<uint32_t>(text.size()))) {
        return false;
    }
    path->assign(text.data());
    return true;
}
