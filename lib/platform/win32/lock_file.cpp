#include <windows.h>

#include "platform/platform.h"
#include "wide_path.h"

// The lock is a handle on the lock file that shares nothing: a second
// opener gets a sharing violation. The file is deleted when the handle
// closes, also when the process ends without releasing it.

PlatformFile platform_lock_file_acquire(const char* path, uint32_t wait_ms, bool* busy) {
    if (busy) {
        *busy = false;
    }
    WidePath wide;
    if (!wide_path(&wide, path)) {
        return PLATFORM_INVALID_FILE;
    }
    DWORD started = GetTickCount();
    for (;;) {
        HANDLE handle = CreateFileW(
            wide.text, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
            nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            return reinterpret_cast<PlatformFile>(handle);
        }
        DWORD why = GetLastError();
        // A lock file still being deleted by its last holder answers with
        // access denied for a moment.
        if (why != ERROR_SHARING_VIOLATION && why != ERROR_ACCESS_DENIED &&
            why != ERROR_LOCK_VIOLATION) {
            return PLATFORM_INVALID_FILE;
        }
        if (GetTickCount() - started >= wait_ms) {
            if (busy) {
                *busy = true;
            }
            return PLATFORM_INVALID_FILE;
        }
        Sleep(20);
    }
}

void platform_lock_file_release(PlatformFile lock, const char* path) {
    if (lock != PLATFORM_INVALID_FILE) {
        CloseHandle(reinterpret_cast<HANDLE>(lock)); // deletes the file
    }
}
