#include "updater_dialog.h"

#include "dialog_look.h"
#include "dialog_view.h"
#include "game_launch.h"
#include "install_folder.h"
#include "update/update_logic.h"
#include "update_messages.h"

namespace {

DialogView* view_of(HWND dialog) {
    return reinterpret_cast<DialogView*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

// Set while run_update holds the thread. The bar's progress dispatches
// messages meanwhile (see update_messages.h): a command or a close request
// that arrives then must neither start a second update, nor open the folder
// browser, nor end the dialog under the running update. Such requests are
// dropped, as is the input queued meanwhile: a click given on "start update"
// would otherwise act on the button as the update left it and start the game.
// A refresh sets it too: the patch's signature is hashed on another thread
// while the dialog answers its messages.
bool update_running = false;

void refresh(DialogView* view) {
    update_running = true;
    refresh_versions(view);
    update_running = false;
    discard_queued_input();
}

void on_init(HWND dialog) {
    auto* view = new DialogView(dialog);
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(view));
    find_install_folder(dialog);
    refresh(view);
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
        update_running = true;
        run_update(view_of(dialog));
        view_of(dialog)->finish_progress();
        // Commands and close requests that came after the bar last moved
        // are dropped as those before it were.
        dispatch_waiting_messages();
        update_running = false;
        discard_queued_input();
        return;
    }
    launch_game(dialog);
    EndDialog(dialog, 1);
}

void on_destroy(HWND dialog) {
    release_held_patch(); // the refresh kept it open for the update
    delete view_of(dialog);
    SetWindowLongPtrW(dialog, DWLP_USER, 0);
    release_result_font();
}

} // namespace

INT_PTR CALLBACK updater_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        on_init(dialog);
        return TRUE;
    case WM_COMMAND:
        if (update_running) {
            return FALSE;
        }
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
            refresh(view_of(dialog));
            break;
        }
        return FALSE;
    case WM_CLOSE:
        if (!update_running) {
            EndDialog(dialog, 2);
        }
        return TRUE;
    case WM_CTLCOLORSTATIC:
        return install_folder_colour(reinterpret_cast<HWND>(lparam), reinterpret_cast<HDC>(wparam));
    case WM_DESTROY:
        on_destroy(dialog);
        return FALSE;
    }
    return FALSE;
}
