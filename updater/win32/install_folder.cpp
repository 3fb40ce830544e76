#include "install_folder.h"

#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "update_logic.h"

namespace {

const char UNINSTALL_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// "Tessavane 体験版_is1"
const char GAME_ENTRY[] = "Tessavane \x91\xcc\x8c\xb1\x94\xc5_is1";
const char INSTALL_LOCATION[] = "InstallLocation";

// "インストールしたフォルダを選択してください"
const char BROWSE_TITLE[] = "\x83\x43\x83\x93\x83X\x83g\x81[\x83\x8b\x82\xb5\x82\xbd\x83t\x83H"
                            "\x83\x8b\x83_\x82\xf0\x91I\x91\xf0\x82\xb5\x82\xc4\x82\xad\x82\xbe"
                            "\x82\xb3\x82\xa2";

// The folder the browser fills; it is also the browser's start folder.
char browse_buffer[MAX_PATH + 1];

// The installer's "InstallLocation", as stored. Only a text value that fits
// counts: another type, or a text without its terminator, would put bytes
// into the field that name no folder.
bool read_install_location(char* folder, DWORD size) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = REG_NONE;
    DWORD length = size;
    LSTATUS status = SHGetValueA(key, GAME_ENTRY, INSTALL_LOCATION, &type, folder, &length);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || length == 0 ||
        length > size) {
        return false;
    }
    // A stored text may lack its terminator; keep it only if it fits in full.
    if (folder[length - 1] != '\0') {
        if (length == size) {
            return false;
        }
        folder[length] = '\0';
    }
    return true;
}

// The updater's own folder with its trailing backslash.
void updater_folder(char* folder, DWORD size) {
    DWORD length = GetModuleFileNameA(nullptr, folder, size);
    if (length == 0 || length >= size) {
        folder[0] = '\0';
        return;
    }
    *PathFindFileNameA(folder) = '\0';
}

} // namespace

void find_install_folder(HWND dialog) {
    char folder[512];
    if (!read_install_location(folder, sizeof folder)) {
        updater_folder(folder, sizeof folder);
    }
    SetDlgItemTextA(dialog, CONTROL_INSTALL_FOLDER, folder);
}

int CALLBACK on_browse_init(HWND browser, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED) {
        SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, data);
    }
    return 0;
}

void browse_install_folder(HWND dialog) {
    GetDlgItemTextA(dialog, CONTROL_INSTALL_FOLDER, browse_buffer, sizeof browse_buffer);
    // The shell's browser expects COM on this thread.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    BROWSEINFOA browse = {};
    browse.hwndOwner = dialog;
    browse.pszDisplayName = browse_buffer;
    browse.lpszTitle = BROWSE_TITLE;
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    browse.lpfn = on_browse_init;
    browse.lParam = reinterpret_cast<LPARAM>(browse_buffer);
    browse.iImage = 0;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&browse);
    if (chosen) {
        if (SHGetPathFromIDListA(chosen, browse_buffer)) {
            SetDlgItemTextA(dialog, CONTROL_INSTALL_FOLDER, browse_buffer);
        }
        CoTaskMemFree(chosen);
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
}
