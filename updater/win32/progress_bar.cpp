#include "progress_bar.h"

#include <commctrl.h>

#include "update/update_logic.h"
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
        SendMessageW(bar_, PBM_SETRANGE, 0, MAKELPARAM(0, static_cast<WORD>(total)));
        SendMessageW(bar_, PBM_SETSTEP, 1, 0);
        // A second update in the same run would otherwise start from where
        // the first one left the bar (full) and wrap around.
        SendMessageW(bar_, PBM_SETPOS, 0, 0);
        ProgressRangeSet = 1;
        last_paint_ = ticks_now();
    }
    // One step per file, handed to the bar when it is drawn: the bar redraws
    // itself on every message that moves it, and one message per file cost
    // as much as the update's own work.
    ++unshown_steps_;
    if (index + 1 >= total) {
        show_steps();
        return;
    }
    LONGLONG now = ticks_now();
    if (now - last_paint_ < paint_ticks_) {
        return;
    }
    last_paint_ = now;
    show_steps();
    dispatch_waiting_messages();
}

void UpdateProgress::finish() {
    show_steps();
}

void UpdateProgress::show_steps() {
    if (unshown_steps_ != 0) {
        SendMessageW(bar_, PBM_DELTAPOS, static_cast<WPARAM>(unshown_steps_), 0);
        unshown_steps_ = 0;
        UpdateWindow(bar_);
    }
}
