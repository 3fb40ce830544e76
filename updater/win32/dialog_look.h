// What the dialog template cannot say: the semi-bold result fields, the
// white install-folder field and the status bar.
#pragma once

#include <windows.h>

// Gives fields 1004, 1007 and 1008 the semi-bold font, created once per
// dialog; release_result_font frees it when the dialog goes.
void apply_result_font(HWND dialog);
void release_result_font();

// Creates the status bar (id 100) with its notice line.
void create_status_bar(HWND dialog);

// WM_CTLCOLORSTATIC: white behind the install-folder field; 0 (the system's
// colours) for every other control.
INT_PTR install_folder_colour(HWND control, HDC dc);
