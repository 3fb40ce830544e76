#include "install_folder.h"

#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "dialog_text.h"
#include "update/update_logic.h"

namespace {

const wchar_t UNINSTALL_KEY[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t INSTALL_LOCATION[] = L"InstallLocation";

// "Tessavane 体験版_is1"
const char GAME_ENTRY[] = "Tessavane \x91\xcc\x8c\xb1\x94\xc5_is1";
// "インストールしたフォルダを選択してください"
const char BROWSE_TITLE[] = "\x83\x43\x83\x93\x83X\x83g\x81[\x83\x8b\x82\xb5\x82\xbd\x83t\x83H"
                            "\x83\x8b\x83_\x82\xf0\x91I\x91\xf0\x82\xb5\x82\xc4\x82\xad\x82\xbe"
                            "\x82\xb3\x82\xa2";

// The folder the browser fills; it is also the browser's start folder.
wchar_t browse_buffer[MAX_PATH + 1];

// The installer's "InstallLocation", as stored (up to 512 bytes, as the
// value's text always was). Only a text value that fits counts: another
// type, or a text without its terminator, would put characters into the
// field that name no folder.
bool read_install_location(wchar_t* folder, DWORD units) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = REG_NONE;
    DWORD size = units * sizeof(wchar_t);
    LSTATUS status =
        SHGetValueW(key, dialog_wide(GAME_ENTRY).c_str(), INSTALL_LOCATION, &type, folder, &size);
    RegCloseKey(key);
    DWORD length = size / sizeof(wchar_t);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || length == 0 ||
        length > units) {
        return false;
    }
    // A stored text may lack its terminator; keep it only if it fits in full.
    if (folder[length - 1] != L'\0') {
        if (length == units) {
            return false;
        }
        folder[length] = L'\0';
    }
    return true;
}

// The updater's own folder with its trailing backslash.
void updater_folder(wchar_t* folder, DWORD units) {
    DWORD length = GetModuleFileNameW(nullptr, folder, units);
    if (length == 0 || length >= units) {
        folder[0] = L'\0';
        return;
    }
    *PathFindFileNameW(folder) = L'\0';
}

} // namespace

void find_install_folder(HWND dialog) {
    // The field holds the folder as Windows names it; one with no code page
    // 932 form shows as it is and is refused when it is used (DialogView).
    wchar_t folder[512];
    if (!read_install_location(folder, sizeof folder / sizeof folder[0])) {
        updater_folder(folder, sizeof folder / sizeof folder[0]);
    }
    SetDlgItemTextW(dialog, CONTROL_INSTALL_FOLDER, folder);
}

int CALLBACK on_browse_init(HWND browser, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED) {
        SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
    }
    return 0;
}

void browse_install_folder(HWND dialog) {
    GetDlgItemTextW(dialog, CONTROL_INSTALL_FOLDER, browse_buffer,
                    sizeof browse_buffer / sizeof browse_buffer[0]);
    // The shell's browser expects COM on this thread.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    const std::wstring title = dialog_wide(BROWSE_TITLE);
    BROWSEINFOW browse = {};
    browse.hwndOwner = dialog;
    browse.pszDisplayName = browse_buffer;
    browse.lpszTitle = title.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    browse.lpfn = on_browse_init;
    browse.lParam = reinterpret_cast<LPARAM>(browse_buffer);
    browse.iImage = 0;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&browse);
    if (chosen) {
        if (SHGetPathFromIDListW(chosen, browse_buffer)) {
            SetDlgItemTextW(dialog, CONTROL_INSTALL_FOLDER, browse_buffer);
        }
        CoTaskMemFree(chosen);
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
}
