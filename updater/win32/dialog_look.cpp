#include "dialog_look.h"

#include <commctrl.h>

#include "dialog_text.h"
#include "resource_ids.h"
#include "update/update_logic.h"

namespace {

HFONT result_font = nullptr;

// Two tabs right-align the notice in the status bar.
// "\t\tゲームを終了してから更新してください。"
const char STATUS_NOTICE[] = "\t\t\x83Q\x81[\x83\x80\x82\xf0\x8fI\x97\xb9\x82\xb5\x82\xc4\x82\xa9"
                             "\x82\xe7\x8dX\x90V\x82\xb5\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2"
                             "\x81\x42";

} // namespace

void apply_result_font(HWND dialog) {
    if (!result_font) {
        LOGFONTW font = {};
        GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
        font.lfHeight = -15;
        font.lfWeight = 600;
        result_font = CreateFontIndirectW(&font);
    }
    for (int control : {CONTROL_INSTALLED_VERSION, CONTROL_PATCH_VERSION, CONTROL_STATUS}) {
        SendDlgItemMessageW(dialog, control, WM_SETFONT, reinterpret_cast<WPARAM>(result_font),
                            TRUE);
    }
}

void release_result_font() {
    if (result_font) {
        DeleteObject(result_font);
        result_font = nullptr;
    }
}

void create_status_bar(HWND dialog) {
    CreateStatusWindowW(WS_CHILD | WS_VISIBLE | CCS_BOTTOM, dialog_wide(STATUS_NOTICE).c_str(),
                        dialog, IDC_STATUS_BAR);
}

INT_PTR install_folder_colour(HWND control, HDC dc) {
    if (GetDlgCtrlID(control) != CONTROL_INSTALL_FOLDER) {
        return 0;
    }
    SetBkColor(dc, RGB(0xFF, 0xFF, 0xFF));
    return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
}
