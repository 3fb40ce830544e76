#include "game_launch.h"

#include <shellapi.h>
#include <shlwapi.h>

#include "dialog_text.h"
#include "update/update_logic.h"

void launch_game(HWND dialog) {
    // The field's own UTF-16: the game starts from the folder shown, which
    // needs no code page 932 form for this.
    std::wstring folder = dialog_item_text(dialog, CONTROL_INSTALL_FOLDER);
    wchar_t game[MAX_PATH];
    // A path too long to combine names no file of ours; start nothing then.
    if (folder.size() >= MAX_PATH || !PathCombineW(game, folder.c_str(), L"Tessavane.exe")) {
        return;
    }
    ShellExecuteW(dialog, L"open", game, nullptr, folder.c_str(), SW_SHOW);
}
