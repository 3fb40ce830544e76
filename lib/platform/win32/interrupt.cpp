#include <windows.h>

#include <atomic>

#include "platform/platform.h"

// Work files to remove when the console is interrupted or closed. The
// handler runs on a thread of its own: it marks each registered file for
// deletion through the handle that created it, and ending the process
// closes those handles, which deletes the files.
namespace {

constexpr int CLEANUP_SLOTS = 16;

struct CleanupSlot {
    std::atomic<int> state{0}; // 0 free, 1 being filled, 2 in use
    HANDLE handle = INVALID_HANDLE_VALUE;
};

CleanupSlot cleanup_slots[CLEANUP_SLOTS];
std::atomic<bool> cleanup_installed{false};

BOOL WINAPI cleanup_on_console_event(DWORD event) {
    for (CleanupSlot& slot : cleanup_slots) {
        if (slot.state.load() == 2) {
            FILE_DISPOSITION_INFO dispose = {TRUE};
            SetFileInformationByHandle(slot.handle, FileDispositionInfo, &dispose, sizeof dispose);
        }
    }
    bool interrupted = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    ExitProcess(interrupted ? 130 : 143);
    return TRUE;
}

} // namespace

void platform_interrupt_cleanup_install() {
    if (!cleanup_installed.exchange(true)) {
        SetConsoleCtrlHandler(cleanup_on_console_event, TRUE);
    }
}

int platform_interrupt_cleanup_add(PlatformFile file, const char*) {
    if (file == PLATFORM_INVALID_FILE) {
        return -1;
    }
    for (int i = 0; i < CLEANUP_SLOTS; ++i) {
        int expected = 0;
        if (cleanup_slots[i].state.compare_exchange_strong(expected, 1)) {
            cleanup_slots[i].handle = reinterpret_cast<HANDLE>(file);
            cleanup_slots[i].state.store(2);
            return i;
        }
    }
    return -1;
}

void platform_interrupt_cleanup_remove(int slot) {
    if (slot >= 0 && slot < CLEANUP_SLOTS) {
        cleanup_slots[slot].state.store(0);
    }
}
