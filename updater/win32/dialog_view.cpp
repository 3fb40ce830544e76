#include "dialog_view.h"

#include "dialog_text.h"
#include "patch_key.h"
#include "platform/platform.h"
#include "update_messages.h"

std::string DialogView::install_folder() {
    std::string folder;
    dialog_path_cp932(dialog_item_text(dialog_, CONTROL_INSTALL_FOLDER), &folder);
    return folder;
}

std::string DialogView::install_folder_unusable() {
    std::string folder;
    if (dialog_path_cp932(dialog_item_text(dialog_, CONTROL_INSTALL_FOLDER), &folder)) {
        return std::string();
    }
    return "the install folder's name has characters with no code page 932 (Shift_JIS) form, "
           "so its files cannot be named";
}

void DialogView::set_text(int control, const char* text) {
    dialog_set_text(dialog_, control, text);
    // The update holds the message loop until the bar's next paint; the
    // status "update running" is to be seen at once.
    UpdateWindow(GetDlgItem(dialog_, control));
}

void DialogView::enable_action(bool enabled) {
    EnableWindow(GetDlgItem(dialog_, CONTROL_ACTION), enabled ? TRUE : FALSE);
}

std::string DialogView::module_path() {
    // A cut path would name another folder, and one with no code page 932
    // form could not be used; better no folder at all (the patch is then
    // not found).
    char path[512];
    return platform_module_path(path, sizeof path) ? std::string(path) : std::string();
}

void DialogView::progress(uint32_t index, uint32_t total) {
    progress_.step(index, total);
}

void DialogView::detail(const char* text) {
    // The dialog shows only the status line; the reason goes to the
    // debugger output, where a support request can find it.
    std::string line = std::string("TessavaneUpdater: ") + text + "\n";
    platform_debug_output(line.c_str());
}

std::string DialogView::patch_public_key() {
    return updater_patch_public_key();
}

void DialogView::run_long(void (*work)(void*), void* context) {
    run_while_answering(work, context);
}
