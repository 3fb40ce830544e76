#include "driver_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <vector>

#include "driver_report.h"

namespace {

constexpr DWORD POLL_MS = 50;
// Replies to queries of texts and states; the dialog answers at once unless
// an update is running.
constexpr DWORD QUERY_TIMEOUT_MS = 30000;
constexpr int STATUS_BAR_ID = 100;

struct DialogSearch {
    DWORD process_id;
    HWND except;
    HWND found;
};

BOOL CALLBACK match_dialog(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<DialogSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->process_id || window == search->except || !IsWindowVisible(window)) {
        return TRUE;
    }
    wchar_t name[64];
    if (GetClassNameW(window, name, 64) && wcscmp(name, L"#32770") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

LRESULT query(HWND window, UINT message, WPARAM wparam, LPARAM lparam, bool* answered = nullptr,
              DWORD timeout_ms = QUERY_TIMEOUT_MS) {
    DWORD_PTR result = 0;
    LRESULT ok =
        SendMessageTimeoutW(window, message, wparam, lparam, SMTO_NORMAL, timeout_ms, &result);
    if (answered) {
        *answered = ok != 0;
    }
    return ok ? static_cast<LRESULT>(result) : 0;
}

std::string hex(uintptr_t value) {
    char text[32];
    snprintf(text, sizeof text, "%#lx", static_cast<unsigned long>(value));
    return text;
}

} // namespace

HWND find_process_dialog(DWORD process_id, HWND except, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        DialogSearch search = {process_id, except, nullptr};
        EnumWindows(match_dialog, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            return search.found;
        }
        if (GetTickCount() - start >= timeout_ms) {
            return nullptr;
        }
        Sleep(POLL_MS);
    }
}

bool start_updater(const std::wstring& exe, DWORD timeout_ms, RunningUpdater& updater,
                   std::string& error) {
    std::wstring folder = exe.substr(0, exe.find_last_of(L'\\') + 1);
    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    execute.lpVerb = L"open";
    execute.lpFile = exe.c_str();
    execute.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    execute.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&execute) || !execute.hProcess) {
        error = "cannot start the updater (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    updater.process = execute.hProcess;
    updater.id = GetProcessId(execute.hProcess);
    updater.dialog = find_process_dialog(updater.id, nullptr, timeout_ms);
    if (!updater.dialog) {
        error = WaitForSingleObject(updater.process, 0) == WAIT_OBJECT_0
                    ? "the updater ended without showing its dialog"
                    : "no dialog appeared in time";
        return false;
    }
    return true;
}

void stop_updater(RunningUpdater& updater) {
    if (!updater.process) {
        return;
    }
    if (WaitForSingleObject(updater.process, 0) == WAIT_TIMEOUT) {
        TerminateProcess(updater.process, 99);
        WaitForSingleObject(updater.process, 5000);
    }
    CloseHandle(updater.process);
    updater.process = nullptr;
}

std::wstring window_text(HWND window) {
    bool answered = false;
    LRESULT length = query(window, WM_GETTEXTLENGTH, 0, 0, &answered);
    if (!answered || length <= 0) {
        return std::wstring();
    }
    std::vector<wchar_t> text(length + 1, L'\0');
    LRESULT copied = query(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    return std::wstring(text.data(), copied > 0 ? copied : 0);
}

void dump_dialog(const RunningUpdater& updater, const std::string& label, Report& report) {
    HWND dialog = updater.dialog;
    if (!IsWindow(dialog)) {
        report.add(label + ".dialog", "gone");
        return;
    }
    report.add(label + ".dialog", "present");
    // A dialog told to end mid-update is hidden at once and destroyed later.
    report.add(label + ".visible", IsWindowVisible(dialog) ? "yes" : "no");
    report.add(label + ".caption", window_text(dialog));
    for (int id : {1001, 1004, 1007, 1008}) {
        report.add(label + "." + std::to_string(id), window_text(GetDlgItem(dialog, id)));
    }
    HWND action = GetDlgItem(dialog, 1);
    report.add(label + ".action", window_text(action));
    report.add(label + ".action_enabled", IsWindowEnabled(action) ? "yes" : "no");
    report.add(label + ".close", window_text(GetDlgItem(dialog, 2)));
    report.add(label + ".browse_enabled", IsWindowEnabled(GetDlgItem(dialog, 1005)) ? "yes" : "no");

    HWND bar = GetDlgItem(dialog, 1002);
    report.add(label + ".progress_pos", static_cast<long long>(query(bar, PBM_GETPOS, 0, 0)));
    report.add(label + ".progress_low", static_cast<long long>(query(bar, PBM_GETRANGE, TRUE, 0)));
    report.add(label + ".progress_high",
               static_cast<long long>(query(bar, PBM_GETRANGE, FALSE, 0)));

    HWND status_bar = GetDlgItem(dialog, STATUS_BAR_ID);
    wchar_t status_class[64] = L"";
    GetClassNameW(status_bar, status_class, 64);
    report.add(label + ".statusbar_class", std::wstring(status_class));
    report.add(label + ".statusbar_style",
               hex(static_cast<uint32_t>(GetWindowLongW(status_bar, GWL_STYLE))));
    report.add(label + ".statusbar", window_text(status_bar));
}

bool click_button(HWND dialog, int id, DWORD timeout_ms) {
    HWND button = GetDlgItem(dialog, id);
    DWORD_PTR result = 0;
    return button &&
           SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, timeout_ms, &result) != 0;
}

bool post_click(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    return button && PostMessageW(button, BM_CLICK, 0, 0);
}

bool click_twice_queued(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    if (!button) {
        return false;
    }
    // The dialog's thread is held while the three messages are queued, so
    // that the second click is waiting before the first one is handled,
    // however the two processes happen to be scheduled.
    HANDLE thread =
        OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(dialog, nullptr));
    if (!thread) {
        return false;
    }
    bool held = SuspendThread(thread) != static_cast<DWORD>(-1);
    LPARAM inside = MAKELPARAM(4, 4);
    bool posted = PostMessageW(button, BM_CLICK, 0, 0) &&
                  PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, inside) &&
                  PostMessageW(button, WM_LBUTTONUP, 0, inside);
    if (held) {
        ResumeThread(thread);
    }
    CloseHandle(thread);
    return held && posted;
}

bool send_command(HWND dialog, int id, DWORD timeout_ms) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)), SMTO_NORMAL,
                               timeout_ms, &result) != 0;
}

namespace {

struct Press {
    HWND button;
    DWORD timeout_ms;
    bool handled;
};

DWORD WINAPI press_button(void* data) {
    auto* press = static_cast<Press*>(data);
    DWORD_PTR result = 0;
    press->handled = SendMessageTimeoutW(press->button, BM_CLICK, 0, 0, SMTO_NORMAL,
                                         press->timeout_ms, &result) != 0;
    return 0;
}

// Often enough that an update of a few hundred milliseconds is seen while it
// runs.
constexpr DWORD PING_PAUSE_MS = 10;
constexpr int BROWSE_ID = 1005;
constexpr int PROGRESS_ID = 1002;

DWORD elapsed_ms(const LARGE_INTEGER& since) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<DWORD>((now.QuadPart - since.QuadPart) * 1000 / frequency.QuadPart);
}

void queue_meddling(HWND dialog, HWND button) {
    LPARAM inside = MAKELPARAM(4, 4);
    PostMessageW(button, BM_CLICK, 0, 0);
    PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, inside);
    PostMessageW(button, WM_LBUTTONUP, 0, inside);
    PostMessageW(button, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(button, WM_KEYUP, VK_RETURN, 0xC0000001);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(BROWSE_ID, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, BROWSE_ID)));
    PostMessageW(dialog, WM_CLOSE, 0, 0);
}

} // namespace

bool click_watched(const RunningUpdater& updater, int id, DWORD timeout_ms, bool meddle,
                   PressWatch& watch) {
    HWND dialog = updater.dialog;
    HWND button = GetDlgItem(dialog, id);
    if (!button) {
        return false;
    }
    Press press = {button, timeout_ms, false};
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    HANDLE thread = CreateThread(nullptr, 0, press_button, &press, 0, nullptr);
    if (!thread) {
        return false;
    }
    while (WaitForSingleObject(thread, PING_PAUSE_MS) == WAIT_TIMEOUT) {
        LARGE_INTEGER sent;
        QueryPerformanceCounter(&sent);
        DWORD_PTR result = 0;
        ++watch.pings_sent;
        if (SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, PING_TIMEOUT_MS,
                                &result)) {
            ++watch.pings_answered;
            DWORD took = elapsed_ms(sent);
            if (took > watch.slowest_ping_ms) {
                watch.slowest_ping_ms = took;
            }
        } else {
            LARGE_INTEGER frequency;
            QueryPerformanceFrequency(&frequency);
            long long at = (sent.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart;
            if (!watch.missed_at.empty()) {
                watch.missed_at += ',';
            }
            watch.missed_at += std::to_string(at);
        }
        // A bar between its ends shows the update running; one seen full
        // was seen after it. Before three quarters, so that the meddling
        // arrives while the update still runs.
        if (meddle && !watch.meddled) {
            HWND bar = GetDlgItem(dialog, PROGRESS_ID);
            bool answered = false, ranged = false;
            LRESULT position = query(bar, PBM_GETPOS, 0, 0, &answered, PING_TIMEOUT_MS);
            LRESULT high = query(bar, PBM_GETRANGE, FALSE, 0, &ranged, PING_TIMEOUT_MS);
            if (answered && ranged && position > 0 && position < high / 4 * 3) {
                queue_meddling(dialog, button);
                watch.meddled = true;
            }
        }
        if (HWND other = find_process_dialog(updater.id, dialog, 0)) {
            watch.browser = true;
            PostMessageW(other, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        }
    }
    watch.press_ms = elapsed_ms(start);
    CloseHandle(thread);
    return press.handled;
}

bool wait_for_text(HWND dialog, int id, const std::wstring& text, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        if (!IsWindow(dialog)) {
            return false;
        }
        if (window_text(GetDlgItem(dialog, id)) == text) {
            return true;
        }
        if (GetTickCount() - start >= timeout_ms) {
            return false;
        }
        Sleep(POLL_MS);
    }
}

bool settle(HWND dialog, DWORD pause_ms) {
    Sleep(pause_ms);
    if (!IsWindow(dialog)) {
        return true;
    }
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, QUERY_TIMEOUT_MS, &result) !=
               0 ||
           !IsWindow(dialog);
}
