#include "updater_dialog.h"

#include "dialog_look.h"
#include "dialog_view.h"
#include "game_launch.h"
#include "install_folder.h"
#include "update_logic.h"

namespace {

DialogView* view_of(HWND dialog) {
    return reinterpret_cast<DialogView*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

// The update runs inside the button's handler and blocks the message loop.
// Clicks and keys given meanwhile wait in the queue and would then act on the
// button as the update left it: a second click on "start update" would start
// the game. Input made while the dialog could not answer is dropped.
void discard_queued_input() {
    MSG message;
    while (PeekMessageA(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
    }
    while (PeekMessageA(&message, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
    }
}

void on_init(HWND dialog) {
    auto* view = new DialogView(dialog);
    SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(view));
    find_install_folder(dialog);
    refresh_versions(view);
    apply_result_font(dialog);
    create_status_bar(dialog);
}

void on_action(HWND dialog) {
    // A disabled button means the patch must not be applied (missing files,
    // another kind of data). The command can still arrive, from another
    // program or a queued key; it must not apply the patch all the same.
    if (!IsWindowEnabled(GetDlgItem(dialog, CONTROL_ACTION))) {
        return;
    }
    if (ActionMode == ACTION_MODE_UPDATE) {
        run_update(view_of(dialog));
        discard_queued_input();
        return;
    }
    launch_game(dialog);
    EndDialog(dialog, 1);
}

void on_destroy(HWND dialog) {
    delete view_of(dialog);
    SetWindowLongPtrA(dialog, DWLP_USER, 0);
    release_result_font();
}

} // namespace

INT_PTR CALLBACK updater_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        on_init(dialog);
        return TRUE;
    case WM_COMMAND:
        // Dispatched on the control id alone: Enter presses the default
        // button (1) and Escape sends 2.
        switch (LOWORD(wparam)) {
        case CONTROL_ACTION:
            on_action(dialog);
            break;
        case CONTROL_CLOSE:
            EndDialog(dialog, 2);
            break;
        case CONTROL_BROWSE:
            browse_install_folder(dialog);
            refresh_versions(view_of(dialog));
            break;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(dialog, 2);
        return TRUE;
    case WM_CTLCOLORSTATIC:
        return install_folder_colour(reinterpret_cast<HWND>(lparam), reinterpret_cast<HDC>(wparam));
    case WM_DESTROY:
        on_destroy(dialog);
        return FALSE;
    }
    return FALSE;
}
