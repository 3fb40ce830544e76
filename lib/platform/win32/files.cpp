#include <windows.h>

#include "platform/platform.h"

static HANDLE file_handle(PlatformFile file) {
    return reinterpret_cast<HANDLE>(file);
}

PlatformFile platform_file_open(const char* path, unsigned access,
                                PlatformDisposition disposition) {
    DWORD desired = 0;
    if (access & PLATFORM_ACCESS_READ) {
        desired |= GENERIC_READ;
    }
    if (access & PLATFORM_ACCESS_WRITE) {
        desired |= GENERIC_WRITE;
    }
    if (desired == 0) {
        return PLATFORM_INVALID_FILE; // CreateFileA would open for attributes only
    }
    DWORD creation;
    switch (disposition) {
    case PLATFORM_OPEN_EXISTING:
        creation = OPEN_EXISTING;
        break;
    case PLATFORM_CREATE_ALWAYS:
        creation = CREATE_ALWAYS;
        break;
    case PLATFORM_OPEN_ALWAYS:
        creation = OPEN_ALWAYS;
        break;
    default:
        return PLATFORM_INVALID_FILE;
    }
    HANDLE handle = CreateFileA(path, desired, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                creation, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return PLATFORM_INVALID_FILE;
    }
    return reinterpret_cast<PlatformFile>(handle);
}

void platform_file_close(PlatformFile file) {
    if (file != PLATFORM_INVALID_FILE) {
        CloseHandle(file_handle(file));
    }
}

bool platform_file_size(PlatformFile file, uint32_t* low, uint32_t* high) {
    // With the high half asked for, INVALID_FILE_SIZE is also a valid low
    // half; only the error code tells a failure apart.
    DWORD high_part = 0;
    SetLastError(NO_ERROR);
    DWORD low_part = GetFileSize(file_handle(file), &high_part);
    bool ok = low_part != INVALID_FILE_SIZE || GetLastError() == NO_ERROR;
    if (!ok) {
        low_part = 0;
        high_part = 0;
    }
    if (low) {
        *low = low_part;
    }
    if (high) {
        *high = high_part;
    }
    return ok;
}

bool platform_file_seek(PlatformFile file, uint32_t position) {
    // The high half (0) makes SetFilePointer take position as unsigned.
    LONG high = 0;
    SetLastError(NO_ERROR);
    DWORD result =
        SetFilePointer(file_handle(file), static_cast<LONG>(position), &high, FILE_BEGIN);
    return result != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

// A failed transfer still reports what it moved before the failure.
uint32_t platform_file_read(PlatformFile file, void* buffer, uint32_t count) {
    DWORD done = 0;
    ReadFile(file_handle(file), buffer, count, &done, nullptr);
    return done;
}

uint32_t platform_file_write(PlatformFile file, const void* buffer, uint32_t count) {
    DWORD done = 0;
    WriteFile(file_handle(file), buffer, count, &done, nullptr);
    return done;
}

bool platform_file_sync(PlatformFile file) {
    return FlushFileBuffers(file_handle(file)) != 0;
}

bool platform_file_delete(const char* path) {
    return DeleteFileA(path) != 0;
}

bool platform_file_move(const char* from, const char* to) {
    return MoveFileA(from, to) != 0;
}

bool platform_file_replace(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool platform_file_exists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}
