// The dialog is a Unicode window, so that its Japanese reads right on a
// Windows of any language; the update logic's texts and paths stay code page
// 932. These convert between the two at the window.
#pragma once

#include <windows.h>

#include <string>

// A text to show, from code page 932. Bytes that are no code page 932
// character (an archive's info.txt may hold any) show as stand-ins.
std::wstring dialog_wide(const char* text);

// Sets a control's text (SetDlgItemTextW) from code page 932.
void dialog_set_text(HWND dialog, int control, const char* text);

// A control's whole text, as the window holds it.
std::wstring dialog_item_text(HWND dialog, int control);

// The code page 932 form of a path; false (path empty) when some character
// of it has none: such a folder cannot be named to the library, and a
// lookalike would name another.
bool dialog_path_cp932(const std::wstring& wide, std::string* path);
