#include "progress_bar.h"

#include <commctrl.h>

#include "update_logic.h"
#include "update_messages.h"

namespace {

// Often enough for a bar that moves smoothly and for a dialog that answers at
// once; one paint per file costs more than the update itself.
constexpr LONGLONG PAINT_INTERVAL_MS = 30;

LONGLONG ticks_now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

} // namespace

UpdateProgress::UpdateProgress(HWND dialog) : bar_(GetDlgItem(dialog, CONTROL_PROGRESS)) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    paint_ticks_ = frequency.QuadPart * PAINT_INTERVAL_MS / 1000;
}

void UpdateProgress::step(uint32_t index, uint32_t total) {
    if (ProgressRangeSet == 0) {
        // An archive holds at most 65535 files, so the 16-bit range suffices.
        SendMessageA(bar_, PBM_SETRANGE, 0, MAKELPARAM(0, static_cast<WORD>(total)));
        SendMessageA(bar_, PBM_SETSTEP, 1, 0);
        // A second update in the same run would otherwise start from where
        // the first one left the bar (full) and wrap around.
        SendMessageA(bar_, PBM_SETPOS, 0, 0);
        ProgressRangeSet = 1;
        last_paint_ = ticks_now();
        hold();
    }
    // The bar draws itself at once on every step; held, it only counts.
    SendMessageA(bar_, PBM_STEPIT, 0, 0);
    if (index + 1 >= total) {
        release();
        return;
    }
    LONGLONG now = ticks_now();
    if (now - last_paint_ < paint_ticks_) {
        return;
    }
    last_paint_ = now;
    release();
    dispatch_waiting_messages();
    hold();
}

void UpdateProgress::finish() {
    release();
}

void UpdateProgress::hold() {
    if (!held_) {
        SendMessageA(bar_, WM_SETREDRAW, FALSE, 0);
        held_ = true;
    }
}

void UpdateProgress::release() {
    if (held_) {
        SendMessageA(bar_, WM_SETREDRAW, TRUE, 0);
        held_ = false;
        InvalidateRect(bar_, nullptr, TRUE);
        UpdateWindow(bar_);
    }
}
