#include "dialog_view.h"

#include "patch_key.h"
#include "update_messages.h"

std::string DialogView::install_folder() {
    char folder[MAX_PATH] = "";
    GetDlgItemTextA(dialog_, CONTROL_INSTALL_FOLDER, folder, sizeof folder);
    return folder;
}

void DialogView::set_text(int control, const char* text) {
    SetDlgItemTextA(dialog_, control, text);
    // The update holds the message loop until the bar's next paint; the
    // status "update running" is to be seen at once.
    UpdateWindow(GetDlgItem(dialog_, control));
}

void DialogView::enable_action(bool enabled) {
    EnableWindow(GetDlgItem(dialog_, CONTROL_ACTION), enabled ? TRUE : FALSE);
}

std::string DialogView::module_path() {
    char path[512];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    // A cut path would name another folder; better no folder at all.
    if (length == 0 || length >= sizeof path) {
        return std::string();
    }
    return std::string(path, length);
}

void DialogView::progress(uint32_t index, uint32_t total) {
    progress_.step(index, total);
}

std::string DialogView::patch_public_key() {
    return updater_patch_public_key();
}

void DialogView::run_long(void (*work)(void*), void* context) {
    run_while_answering(work, context);
}
