#include <windows.h>

#include "platform/file_copy_block.h"
#include "platform/platform.h"
#include "wide_path.h"

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
        return PLATFORM_INVALID_FILE; // CreateFileW would open for attributes only
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
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if ((access & PLATFORM_ACCESS_DENY_WRITERS) && desired == GENERIC_READ) {
        share = FILE_SHARE_READ;
    }
    WidePath wide;
    if (!wide_path(&wide, path)) {
        return PLATFORM_INVALID_FILE;
    }
    HANDLE handle = CreateFileW(wide.text, desired, share, nullptr, creation, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return PLATFORM_INVALID_FILE;
    }
    // Pipes, consoles and devices open too; only disk files are files here.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        SetLastError(ERROR_INVALID_FUNCTION);
        return PLATFORM_INVALID_FILE;
    }
    return reinterpret_cast<PlatformFile>(handle);
}

PlatformFile platform_file_create_new(const char* path, int* cleanup_slot) {
    // DELETE lets the handle remove its own file (platform_file_discard);
    // FILE_FLAG_OPEN_REPARSE_POINT makes a link under the name count as
    // existing instead of being followed.
    WidePath wide;
    if (!wide_path(&wide, path)) {
        return PLATFORM_INVALID_FILE;
    }
    HANDLE handle =
        CreateFileW(wide.text, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
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

uint32_t platform_file_read_at(PlatformFile file, uint32_t position, void* buffer, uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        // On a handle opened without FILE_FLAG_OVERLAPPED the offset is
        // honoured and the call still waits for the data.
        OVERLAPPED at = {};
        at.Offset = position + done;
        DWORD n = 0;
        if (!ReadFile(file_handle(file), static_cast<char*>(buffer) + done, count - done, &n,
                      &at) ||
            n == 0) {
            break;
        }
        done += n;
    }
    return done;
}

uint32_t platform_file_write_at(PlatformFile file, uint32_t position, const void* buffer,
                                uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        OVERLAPPED at = {};
        at.Offset = position + done;
        DWORD n = 0;
        if (!WriteFile(file_handle(file), static_cast<const char*>(buffer) + done, count - done, &n,
                       &at) ||
            n == 0) {
            break;
        }
        done += n;
    }
    return done;
}

// Windows always reads and writes.
void platform_file_copy_mode(PlatformCopyMode) {}

bool platform_file_copy_by_kernel(uint32_t, uint32_t) {
    return false;
}

uint32_t platform_file_copy(PlatformFile from, uint32_t from_position, PlatformFile to,
                            uint32_t to_position, uint32_t count) {
    // No call copies a range between files before block cloning on ReFS.
    return platform_file_copy_through_block(from, from_position, to, to_position, count);
}

// The volume and file number of an open handle.
static bool file_identity(HANDLE handle, BY_HANDLE_FILE_INFORMATION* info) {
    return GetFileInformationByHandle(handle, info) != 0;
}

bool platform_file_is(PlatformFile file, const char* path) {
    if (file == PLATFORM_INVALID_FILE) {
        return false;
    }
    WidePath wide;
    if (!wide_path(&wide, path)) {
        return false;
    }
    HANDLE named = CreateFileW(
        wide.text, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION held, found;
    bool same = file_identity(file_handle(file), &held) && file_identity(named, &found) &&
                held.dwVolumeSerialNumber == found.dwVolumeSerialNumber &&
                held.nFileIndexHigh == found.nFileIndexHigh &&
                held.nFileIndexLow == found.nFileIndexLow;
    CloseHandle(named);
    return same;
}

bool platform_file_discard(PlatformFile file, const char* path) {
    if (file == PLATFORM_INVALID_FILE) {
        return false;
    }
    // The handle's own file is marked, whatever name it has by now.
    FILE_DISPOSITION_INFO dispose = {TRUE};
    bool removed = SetFileInformationByHandle(file_handle(file), FileDispositionInfo, &dispose,
                                              sizeof dispose) != 0;
    WidePath wide;
    if (!removed && platform_file_is(file, path) && wide_path(&wide, path)) {
        removed = DeleteFileW(wide.text) != 0;
    }
    CloseHandle(file_handle(file));
    return removed;
}

bool platform_file_delete(const char* path) {
    WidePath wide;
    return wide_path(&wide, path) && DeleteFileW(wide.text) != 0;
}

bool platform_file_move(const char* from, const char* to) {
    WidePath source, target;
    return wide_path(&source, from) && wide_path(&target, to) &&
           MoveFileW(source.text, target.text) != 0;
}

bool platform_file_replace(const char* from, const char* to) {
    WidePath source, target;
    return wide_path(&source, from) && wide_path(&target, to) &&
           MoveFileExW(source.text, target.text,
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// INVALID_FILE_ATTRIBUTES also for a path with no UTF-16 form, with the
// conversion's error code.
bool platform_file_exists(const char* path) {
    return wide_path_attributes(path) != INVALID_FILE_ATTRIBUTES;
}

bool platform_path_is_link(const char* path) {
    DWORD attributes = wide_path_attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool platform_path_clear(const char* path) {
    WidePath wide;
    if (!wide_path(&wide, path)) {
        return false;
    }
    DWORD attributes = GetFileAttributesW(wide.text);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD why = GetLastError();
        return why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        // A junction or folder link goes with RemoveDirectoryW, its target
        // staying; a real folder stays.
        return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && RemoveDirectoryW(wide.text) != 0;
    }
    // A read-only flag is cleared on a plain file only: on a link it would
    // change the file the link points to.
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        SetFileAttributesW(wide.text, attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    return DeleteFileW(wide.text) != 0 || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool platform_file_commit(PlatformFile file, const char* path, const char* destination,
                          int cleanup_slot, bool durable) {
    // Windows cannot rename a file that its own handle holds unshared, and
    // a closed handle must leave the clean-up before its value is reused.
    platform_interrupt_cleanup_remove(cleanup_slot);
    CloseHandle(file_handle(file));
    DWORD flags = MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0);
    WidePath source, target;
    bool named = wide_path(&source, path);
    if (!named || !wide_path(&target, destination) ||
        !MoveFileExW(source.text, target.text, flags)) {
        DWORD why = GetLastError();
        if (named) {
            DeleteFileW(source.text);
        }
        SetLastError(why);
        return false;
    }
    return true;
}
