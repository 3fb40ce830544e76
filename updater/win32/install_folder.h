// The two ways the install-folder field (1001) gets its text: the game
// installer's uninstall entry (or the updater's own folder), and the shell's
// folder browser.
#pragma once

#include <windows.h>

void find_install_folder(HWND dialog);

// Leaves the field as it is when the user cancels or picks something that is
// not a file-system folder.
void browse_install_folder(HWND dialog);

// The folder browser's callback: opens the browser at the folder whose path
// text is data.
int CALLBACK on_browse_init(HWND browser, UINT message, LPARAM parameter, LPARAM data);
