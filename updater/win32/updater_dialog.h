// The updater's dialog procedure (dialog 101).
#pragma once

#include <windows.h>

INT_PTR CALLBACK updater_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
