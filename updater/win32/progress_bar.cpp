#include "progress_bar.h"

#include <windows.h>

#include <commctrl.h>

#include "update_logic.h"

int on_progress(void* context, uint32_t, uint32_t total) {
    HWND bar = GetDlgItem(static_cast<HWND>(context), CONTROL_PROGRESS);
    if (ProgressRangeSet == 0) {
        // An archive holds at most 65535 files, so the 16-bit range suffices.
        SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, static_cast<WORD>(total)));
        SendMessageA(bar, PBM_SETSTEP, 1, 0);
        // A second update in the same run would otherwise start from where
        // the first one left the bar (full) and wrap around.
        SendMessageA(bar, PBM_SETPOS, 0, 0);
        ProgressRangeSet = 1;
    }
    SendMessageA(bar, PBM_STEPIT, 0, 0);
    // The message loop is blocked by the running update: paint now.
    SendMessageA(bar, WM_PAINT, 0, 0);
    return 0;
}
