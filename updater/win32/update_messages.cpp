#include "update_messages.h"

#include <windows.h>

namespace {

// What the update leaves in the queue: keyboard and mouse messages.
struct MessageRange {
    UINT first;
    UINT last;
};
constexpr MessageRange INPUT_RANGES[] = {{WM_KEYFIRST, WM_KEYLAST}, {WM_MOUSEFIRST, WM_MOUSELAST}};
// Everything around them.
constexpr MessageRange OTHER_RANGES[] = {
    {0, WM_KEYFIRST - 1}, {WM_KEYLAST + 1, WM_MOUSEFIRST - 1}, {WM_MOUSELAST + 1, 0xFFFFFFFF}};

// Takes no input from the devices, whatever its number: a click on the
// caption becomes WM_NCLBUTTONDOWN, outside the ranges above.
constexpr UINT TAKE_NO_INPUT = PM_REMOVE | PM_QS_PAINT | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE;

struct LongWork {
    void (*work)(void*);
    void* context;
};

DWORD WINAPI run_long_work(LPVOID argument) {
    auto* job = static_cast<LongWork*>(argument);
    job->work(job->context);
    return 0;
}

} // namespace

bool dispatch_waiting_messages() {
    // Once a peek with PM_QS_ flags has handled a message another thread
    // sent (a ping), Wine lets the rest of that call handle only sent
    // messages and then reports none: with pings coming often, posted
    // messages would wait for the end of the update. Another pass finds them.
    constexpr int MAX_PASSES = 3;
    MSG message;
    for (int pass = 0; pass < MAX_PASSES; ++pass) {
        bool dispatched = false;
        for (const MessageRange& range : OTHER_RANGES) {
            while (PeekMessageW(&message, nullptr, range.first, range.last, TAKE_NO_INPUT)) {
                if (message.message == WM_QUIT) {
                    // The modal loop ends on it once the update is over.
                    PostQuitMessage(static_cast<int>(message.wParam));
                    return true;
                }
                DispatchMessageW(&message);
                dispatched = true;
            }
        }
        if (!dispatched && pass > 0) {
            return false;
        }
    }
    return false;
}

void discard_queued_input() {
    MSG message;
    for (const MessageRange& range : INPUT_RANGES) {
        while (PeekMessageW(&message, nullptr, range.first, range.last, PM_REMOVE)) {
        }
    }
}

void run_while_answering(void (*work)(void*), void* context) {
    LongWork job{work, context};
    HANDLE thread = CreateThread(nullptr, 0, run_long_work, &job, 0, nullptr);
    if (!thread) {
        work(context);
        return;
    }
    // Woken by the thread's end or by anything but input, which stays
    // queued as during an update.
    constexpr DWORD WAKE_FOR = QS_PAINT | QS_POSTMESSAGE | QS_SENDMESSAGE | QS_TIMER;
    for (;;) {
        DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, WAKE_FOR);
        // A quit posted again would wake the wait at once, over and over:
        // once it is seen, only the job's end is waited for.
        if (woke != WAIT_OBJECT_0 + 1 || dispatch_waiting_messages()) {
            if (woke != WAIT_OBJECT_0) {
                WaitForSingleObject(thread, INFINITE); // the job's memory is ours
            }
            break;
        }
    }
    CloseHandle(thread);
}
