// The progress bar (control 1002) that the merge drives.
#pragma once

#include <windows.h>

#include <cstdint>

class UpdateProgress {
  public:
    explicit UpdateProgress(HWND dialog);

    // After each file the merge has written, total being the number of files
    // of the output. The first call of an update sets the bar's range; every
    // call counts one step. The steps reach the bar, which then draws itself,
    // at most every PAINT_INTERVAL_MS and after the last file, and at those
    // moments the dialog dispatches what waits for it (update_messages.h).
    void step(uint32_t index, uint32_t total);
    // The update has ended, completed or not: the bar is drawn as it stands.
    void finish();

  private:
    void show_steps();

    HWND bar_;
    uint32_t unshown_steps_ = 0; // counted since the bar last moved
    LONGLONG last_paint_ = 0;    // performance-counter ticks
    LONGLONG paint_ticks_ = 0;   // PAINT_INTERVAL_MS in ticks
};
