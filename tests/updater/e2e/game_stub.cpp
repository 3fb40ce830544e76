// Stands in for Tessavane.exe in the end-to-end tests.
//
//   updater_e2e_game
//       records the working directory it was started with in "started.txt"
//       beside itself (UTF-8), as the updater's launch button starts it.
//   updater_e2e_game hold DATA READY STOP SECONDS
//       plays the running game that holds its data archive open: opens DATA
//       for reading with share mode FILE_SHARE_READ (no FILE_SHARE_DELETE),
//       creates READY once the handle is held, and keeps it until STOP
//       appears. After SECONDS without STOP it lets go and ends with 3, so a
//       forgotten holder never outlives its test.
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

std::string to_utf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) {
        WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    }
    return out;
}

int record_start() {
    wchar_t record[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, record, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return 1;
    }
    wchar_t* name = wcsrchr(record, L'\\');
    if (!name || (name - record) + 12 >= MAX_PATH) {
        return 1;
    }
    wcscpy(name + 1, L"started.txt");

    wchar_t directory[MAX_PATH];
    length = GetCurrentDirectoryW(MAX_PATH, directory);
    if (length == 0 || length >= MAX_PATH) {
        return 1;
    }
    std::string text = to_utf8(directory);
    HANDLE file = CreateFileW(record, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size() ? 0 : 1;
}

int hold_data(const wchar_t* data, const wchar_t* ready, const wchar_t* stop, DWORD seconds) {
    // As the game opens its archive: reading, and other readers welcome.
    HANDLE held = CreateFileW(data, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        return 1;
    }
    // A byte read through the handle shows it really reaches the file.
    char first = 0;
    DWORD got = 0;
    if (!ReadFile(held, &first, 1, &got, nullptr) || got != 1) {
        CloseHandle(held);
        return 1;
    }
    HANDLE marker = CreateFileW(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) {
        CloseHandle(held);
        return 1;
    }
    CloseHandle(marker);

    DWORD start = GetTickCount();
    int status = 0;
    while (GetFileAttributesW(stop) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start >= seconds * 1000) {
            status = 3;
            break;
        }
        Sleep(50);
    }
    CloseHandle(held);
    return status;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (__argc >= 2 && wcscmp(__wargv[1], L"hold") == 0) {
        if (__argc != 6) {
            return 2;
        }
        wchar_t* end = nullptr;
        unsigned long seconds = wcstoul(__wargv[5], &end, 10);
        if (!end || *end != L'\0' || seconds == 0) {
            return 2;
        }
        return hold_data(__wargv[2], __wargv[3], __wargv[4], static_cast<DWORD>(seconds));
    }
    return record_start();
}
