// The progress bar (control 1002) that the merge drives.
#pragma once

#include <cstdint>

// A ProgressCallback: context is the dialog window; called once after each
// file the merge has written, total being the number of files of the output.
int on_progress(void* context, uint32_t index, uint32_t total);
