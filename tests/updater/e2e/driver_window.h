// Operating the updater's dialog from another process: starting it, finding
// its windows, reading texts and states, pressing buttons.
#pragma once

#include <windows.h>

#include <string>

class Report;

struct RunningUpdater {
    HANDLE process = nullptr;
    DWORD id = 0;
    HWND dialog = nullptr;
};

// Starts the program (working directory: its own folder) and waits for its
// dialog.
bool start_updater(const std::wstring& exe, DWORD timeout_ms, RunningUpdater& updater,
                   std::string& error);
// A visible dialog-class window of the process other than except, or null.
HWND find_process_dialog(DWORD process_id, HWND except, DWORD timeout_ms);
// Ends the process if it still runs; closes the handle.
void stop_updater(RunningUpdater& updater);

std::wstring window_text(HWND window);
// The dialog's fields, button states, progress bar and status bar as
// "<label>.<what>" findings.
void dump_dialog(const RunningUpdater& updater, const std::string& label, Report& report);

// Presses a button and returns once the dialog has handled the press (the
// update runs inside it).
bool click_button(HWND dialog, int id, DWORD timeout_ms);
// Presses a button without waiting, for presses that open a modal window.
bool post_click(HWND dialog, int id);
// Presses a button and at once queues a second click on it with the mouse, as
// an impatient user would while the first press is still being handled.
bool click_twice_queued(HWND dialog, int id);
// Sends WM_COMMAND for the control straight to the dialog, as a keyboard
// accelerator or another program might, whatever the button's state.
bool send_command(HWND dialog, int id, DWORD timeout_ms);
// What was seen while a press was being handled.
struct PressWatch {
    long pings_sent = 0;
    long pings_answered = 0; // within PING_TIMEOUT_MS
    DWORD slowest_ping_ms = 0;
    std::string missed_at; // "ms,ms,...": when each unanswered ping went out
    DWORD press_ms = 0;    // from the press until the dialog had handled it
    bool meddled = false;  // the messages of click_watched's meddle went out
    bool browser = false;  // a second dialog of the program showed up meanwhile
};
constexpr DWORD PING_TIMEOUT_MS = 1000;
// Presses a button and, until the dialog has handled the press, pings the
// dialog with WM_NULL (SMTO_ABORTIFHUNG, PING_TIMEOUT_MS) every 10 ms, as
// Windows does to tell a hung window. With meddle, once the progress bar is
// seen between its ends, also queues what must not act while the update runs:
// another press of the button, a click and the Enter key on it, the "..."
// command and WM_CLOSE. A second dialog of the program (the folder browser)
// is cancelled.
bool click_watched(const RunningUpdater& updater, int id, DWORD timeout_ms, bool meddle,
                   PressWatch& watch);
// Waits until the control shows the text.
bool wait_for_text(HWND dialog, int id, const std::wstring& text, DWORD timeout_ms);
// Waits until the dialog has handled everything sent to it so far.
bool settle(HWND dialog, DWORD pause_ms);
