// Entry of TessavaneUpdater.exe: one modal dialog between the set-up and the
// tear-down of the file-system mount table.
#include <windows.h>

#include "fs/filesystem.h"
#include "resource_ids.h"
#include "updater_dialog.h"

namespace {

// The updater runs elevated, usually from a downloads folder: DLLs loaded on
// demand (by the shell's folder browser, for one) must come from System32
// only, never from a planted copy beside the executable. Looked up at run
// time so that the program still starts on a Windows 7 without KB2533623,
// where removing the current directory from the search is the best we have.
void restrict_dll_search() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto set_default =
        kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                     reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
               : nullptr;
    if (!set_default || !set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        SetDllDirectoryW(L"");
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    restrict_dll_search();
    fs_init(nullptr);
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_UPDATER), nullptr, updater_dialog_proc, 0);
    fs_shutdown();
    return 0;
}
