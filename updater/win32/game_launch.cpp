#include "game_launch.h"

#include <shellapi.h>
#include <shlwapi.h>

#include "update_logic.h"

void launch_game(HWND dialog) {
    char folder[MAX_PATH] = "";
    GetDlgItemTextA(dialog, CONTROL_INSTALL_FOLDER, folder, sizeof folder);
    char game[MAX_PATH];
    // A path too long to combine names no file of ours; start nothing then.
    if (!PathCombineA(game, folder, "Tessavane.exe")) {
        return;
    }
    ShellExecuteA(dialog, "open", game, nullptr, folder, SW_SHOW);
}
