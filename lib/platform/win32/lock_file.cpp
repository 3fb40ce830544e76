#include <windows.h>

#include "platform/platform.h"
#include "wide_path.h"

// The lock is a handle on the lock file that shares nothing: a second opener
// gets a sharing violation, and no one may delete or rename the file while
// it is held (that needs FILE_SHARE_DELETE). The file is deleted when the
// handle closes, also when the process ends without releasing it.

namespace {

// Every path of this file reaches the system here, in one place.
HANDLE open_lock_file(const char* path) {
    WidePath wide;
    if (!wide_path(&wide, path)) {
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(
        wide.text, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Access denied comes from a folder where no file may be created, from a
// read-only file or a folder under the lock's name, and, for a moment, from
// a lock file that its last holder has closed and the system is still
// deleting. Only the last is worth waiting for: the name then still shows,
// as an ordinary file or one whose attributes cannot be read either.
bool denied_while_deleted(const char* path) {
    DWORD attributes = wide_path_attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return GetLastError() == ERROR_ACCESS_DENIED;
    }
    return (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY |
                          FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

} // namespace

PlatformFile platform_folder_lock_acquire(const char* folder, const char* lock_file,
                                          uint32_t wait_ms, bool* busy) {
    (void)folder;
    if (busy) {
        *busy = false;
    }
    DWORD started = GetTickCount();
    for (;;) {
        HANDLE handle = open_lock_file(lock_file);
        if (handle != INVALID_HANDLE_VALUE) {
            return reinterpret_cast<PlatformFile>(handle);
        }
        DWORD why = GetLastError();
        bool held = why == ERROR_SHARING_VIOLATION || why == ERROR_LOCK_VIOLATION ||
                    (why == ERROR_ACCESS_DENIED && denied_while_deleted(lock_file));
        if (!held) {
            SetLastError(why);
            return PLATFORM_INVALID_FILE;
        }
        if (GetTickCount() - started >= wait_ms) {
            if (busy) {
                *busy = true;
            }
            SetLastError(why);
            return PLATFORM_INVALID_FILE;
        }
        Sleep(20);
    }
}

void platform_folder_lock_release(PlatformFile lock) {
    if (lock != PLATFORM_INVALID_FILE) {
        CloseHandle(reinterpret_cast<HANDLE>(lock)); // deletes the file
    }
}
