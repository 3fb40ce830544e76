// Starts the game, Tessavane.exe in the install folder, with that folder as
// its working directory. Failures are not reported: the updater closes anyway.
#pragma once

#include <windows.h>

void launch_game(HWND dialog);
