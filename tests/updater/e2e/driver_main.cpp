// Drives TessavaneUpdater.exe for the end-to-end tests under Wine.
//
//   updater_e2e_driver REPORT STEP...
//
// Steps run in order; each finding goes to REPORT as a "key=value" line in
// UTF-8. The first step that fails writes "error=..." and ends the run with
// status 1; a run that gets through all steps writes "steps=done". An updater
// still running at the end is stopped, so that no run leaves a process behind.
//
//   start EXE                 start the updater, wait for its dialog
//   template EXE              dialog 101 as stored in EXE
//   manifest EXE FILE         copy EXE's manifest to FILE
//   dump LABEL                the dialog's texts and states as LABEL.*
//   click ID                  press a button, wait until handled
//   post-click ID             press a button without waiting
//   click-queued ID           press a button and queue a second mouse click
//   command ID                WM_COMMAND for ID straight to the dialog
//   click-pinged ID           press a button, pinging the dialog until handled;
//                             reports pinged.sent, .answered, .slowest_ms,
//                             .press_ms and .missed_at
//   click-meddled ID          the same, and queue presses, keys and a close
//                             while the update runs; also reports pinged.meddled
//                             and pinged.browser
//   browser LABEL             wait for the folder browser, report its texts
//   cancel-browser            cancel the folder browser
//   wait-text ID TEXT SECS    wait until control ID shows TEXT
//   settle MS                 pause, then wait until the dialog is idle
//   copy FROM TO              copy a file (overwriting)
//   signal FILE               create FILE
//   await FILE SECS           wait until FILE exists
//   close                     WM_CLOSE to the dialog
//   wait-exit SECS            wait for the updater to end; reports exit=CODE
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "driver_report.h"
#include "driver_template.h"
#include "driver_window.h"

namespace {

constexpr DWORD DIALOG_TIMEOUT_MS = 30000;
// An update of the small test archives takes well under a second; this only
// keeps a hung dialog from hanging the run.
constexpr DWORD ACTION_TIMEOUT_MS = 120000;

class Driver {
  public:
    Driver(Report& report, int argc, wchar_t** argv) : report_(report), argc_(argc), argv_(argv) {}
    ~Driver() { stop_updater(updater_); }

    int run(int first) {
        next_ = first;
        while (next_ < argc_) {
            std::wstring step = argv_[next_++];
            std::string error;
            if (!run_step(step, error)) {
                report_.add("error", to_utf8(step) + ": " + error);
                return 1;
            }
        }
        report_.add("steps", "done");
        return 0;
    }

  private:
    bool take(std::wstring& value) {
        if (next_ >= argc_) {
            return false;
        }
        value = argv_[next_++];
        return true;
    }
    bool take_number(long& value) {
        std::wstring text;
        if (!take(text)) {
            return false;
        }
        wchar_t* end = nullptr;
        value = wcstol(text.c_str(), &end, 10);
        return end && *end == L'\0' && !text.empty();
    }
    bool need_dialog(std::string& error) {
        if (!updater_.dialog || !IsWindow(updater_.dialog)) {
            error = "no dialog";
            return false;
        }
        return true;
    }
    static bool wait_for_file(const std::wstring& path, long seconds) {
        DWORD start = GetTickCount();
        while (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            if (GetTickCount() - start >= static_cast<DWORD>(seconds) * 1000) {
                return false;
            }
            Sleep(50);
        }
        return true;
    }

    bool run_step(const std::wstring& step, std::string& error) {
        std::wstring a, b;
        long number = 0, seconds = 0;
        if (step == L"start") {
            if (!take(a)) {
                return (error = "needs EXE", false);
            }
            return start_updater(a, DIALOG_TIMEOUT_MS, updater_, error);
        }
        if (step == L"template") {
            return take(a) ? dump_template(a, report_, error) : (error = "needs EXE", false);
        }
        if (step == L"manifest") {
            return take(a) && take(b) ? save_manifest(a, b, error)
                                      : (error = "needs EXE FILE", false);
        }
        if (step == L"dump") {
            if (!take(a)) {
                return (error = "needs LABEL", false);
            }
            dump_dialog(updater_, to_utf8(a), report_);
            return true;
        }
        if (step == L"click" || step == L"post-click" || step == L"click-queued" ||
            step == L"command") {
            if (!take_number(number)) {
                return (error = "needs ID", false);
            }
            if (!need_dialog(error)) {
                return false;
            }
            HWND dialog = updater_.dialog;
            int id = static_cast<int>(number);
            bool done = step == L"click"          ? click_button(dialog, id, ACTION_TIMEOUT_MS)
                        : step == L"post-click"   ? post_click(dialog, id)
                        : step == L"click-queued" ? click_twice_queued(dialog, id)
                                                  : send_command(dialog, id, ACTION_TIMEOUT_MS);
            return done || (error = "the dialog did not take it", false);
        }
        if (step == L"click-pinged" || step == L"click-meddled") {
            if (!take_number(number)) {
                return (error = "needs ID", false);
            }
            if (!need_dialog(error)) {
                return false;
            }
            PressWatch watch;
            bool done = click_watched(updater_, static_cast<int>(number), ACTION_TIMEOUT_MS,
                                      step == L"click-meddled", watch);
            report_.add("pinged.sent", static_cast<long long>(watch.pings_sent));
            report_.add("pinged.answered", static_cast<long long>(watch.pings_answered));
            report_.add("pinged.slowest_ms", static_cast<long long>(watch.slowest_ping_ms));
            report_.add("pinged.press_ms", static_cast<long long>(watch.press_ms));
            report_.add("pinged.missed_at", watch.missed_at);
            if (step == L"click-meddled") {
                report_.add("pinged.meddled", watch.meddled ? "yes" : "no");
                report_.add("pinged.browser", watch.browser ? "opened" : "none");
            }
            return done || (error = "the dialog did not take it", false);
        }
        if (step == L"browser" || step == L"cancel-browser") {
            if (step == L"browser" && !take(a)) {
                return (error = "needs LABEL", false);
            }
            HWND browser = find_process_dialog(updater_.id, updater_.dialog, DIALOG_TIMEOUT_MS);
            if (!browser) {
                return (error = "no folder browser appeared", false);
            }
            if (step == L"browser") {
                report_browser(browser, to_utf8(a));
                return true;
            }
            PostMessageW(browser, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            DWORD start = GetTickCount();
            while (IsWindow(browser)) {
                if (GetTickCount() - start >= DIALOG_TIMEOUT_MS) {
                    return (error = "the folder browser stayed open", false);
                }
                Sleep(50);
            }
            return settle(updater_.dialog, 100) || (error = "the dialog hangs", false);
        }
        if (step == L"wait-text") {
            if (!take_number(number) || !take(a) || !take_number(seconds)) {
                return (error = "needs ID TEXT SECONDS", false);
            }
            if (!wait_for_text(updater_.dialog, static_cast<int>(number), a, seconds * 1000)) {
                if (!IsWindow(updater_.dialog)) {
                    return (error = "the dialog has ended", false);
                }
                return (error = "control " + std::to_string(number) + " shows \"" +
                                escape_line(to_utf8(window_text(
                                    GetDlgItem(updater_.dialog, static_cast<int>(number))))) +
                                "\"",
                        false);
            }
            return true;
        }
        if (step == L"settle") {
            if (!take_number(number)) {
                return (error = "needs MS", false);
            }
            return settle(updater_.dialog, static_cast<DWORD>(number)) ||
                   (error = "the dialog hangs", false);
        }
        if (step == L"copy") {
            if (!take(a) || !take(b)) {
                return (error = "needs FROM TO", false);
            }
            return CopyFileW(a.c_str(), b.c_str(), FALSE) || (error = "copy failed", false);
        }
        if (step == L"signal") {
            if (!take(a)) {
                return (error = "needs FILE", false);
            }
            HANDLE file = CreateFileW(a.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE) {
                return (error = "cannot create it", false);
            }
            CloseHandle(file);
            return true;
        }
        if (step == L"await") {
            if (!take(a) || !take_number(seconds)) {
                return (error = "needs FILE SECONDS", false);
            }
            return wait_for_file(a, seconds) || (error = "it did not appear", false);
        }
        if (step == L"close") {
            return need_dialog(error) && PostMessageW(updater_.dialog, WM_CLOSE, 0, 0);
        }
        if (step == L"wait-exit") {
            if (!take_number(seconds)) {
                return (error = "needs SECONDS", false);
            }
            if (!updater_.process) {
                return (error = "no updater started", false);
            }
            if (WaitForSingleObject(updater_.process, seconds * 1000) != WAIT_OBJECT_0) {
                report_.add("exit", "running");
                return true;
            }
            DWORD code = 0;
            GetExitCodeProcess(updater_.process, &code);
            report_.add("exit", static_cast<long long>(code));
            return true;
        }
        error = "unknown step";
        return false;
    }

    void report_browser(HWND browser, const std::string& label) {
        std::wstring texts;
        for (HWND child = GetWindow(browser, GW_CHILD); child;
             child = GetWindow(child, GW_HWNDNEXT)) {
            std::wstring text = window_text(child);
            if (!text.empty()) {
                texts += L"|" + text;
            }
        }
        report_.add(label + ".texts", texts);
    }

    Report& report_;
    int argc_;
    wchar_t** argv_;
    int next_ = 0;
    RunningUpdater updater_;
};

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fputs("usage: updater_e2e_driver REPORT STEP...\n", stderr);
        return 2;
    }
    Report report;
    if (!report.open(argv[1])) {
        fputs("updater_e2e_driver: cannot write the report\n", stderr);
        return 2;
    }
    Driver driver(report, argc, argv);
    return driver.run(2);
}
