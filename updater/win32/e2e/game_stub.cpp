// Stands in for Tessavane.exe in the end-to-end tests: records the working
// directory it was started with in "started.txt" beside itself (UTF-8).
#include <windows.h>

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

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
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
