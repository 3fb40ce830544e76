#include <windows.h>
#include <winternl.h>

#include <cstring>

#include "platform/platform.h"
#include "wide_path.h"

// Everything below a held folder is opened with NtCreateFile relative to
// that folder's handle, one name at a time, with FILE_OPEN_REPARSE_POINT so
// that a link, junction or mount point is opened itself and refused instead
// of followed. Folders are held without FILE_SHARE_DELETE: while we hold
// one, nobody can rename it away or put a junction in its place, so the
// folder a file is made in is the folder that was checked.
//
// The window that remains: platform_folder_make makes a folder and closes
// it, and platform_folder_open_child opens it again by name; in between
// someone who may write the parent can replace it with a junction. The open
// then finds a reparse point and refuses it by name, so nothing is written
// through it, but the extraction fails instead of going on. The first
// folder (platform_folder_open) is reached by its path, links included, as
// the caller gave it. Wine (8.0) shows the host's symbolic links as plain
// folders, not reparse points; there a link is told by the folder's final
// path lying elsewhere instead (lies_in). A hard link to a file elsewhere cannot be made in
// place of a new work file (that creation is exclusive), and the rename
// onto the destination replaces a link itself. The rename's durability is
// that of the file system: there is no MOVEFILE_WRITE_THROUGH for a rename
// by handle, only the file's own flush before it.

namespace {

typedef NTSTATUS(NTAPI* NtCreateFileFunction)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                              PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                              ULONG, PVOID, ULONG);
typedef ULONG(NTAPI* StatusToErrorFunction)(NTSTATUS);
typedef NTSTATUS(NTAPI* NtSetInformationFunction)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);

constexpr NTSTATUS STATUS_NAME_COLLISION = static_cast<NTSTATUS>(0xC0000035);
constexpr NTSTATUS STATUS_NAME_NOT_FOUND = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS STATUS_PATH_NOT_FOUND = static_cast<NTSTATUS>(0xC000003A);
// Told for a link where a folder was expected.
constexpr DWORD ERROR_LINK_MET = 4395;              // ERROR_REPARSE_POINT_ENCOUNTERED
constexpr ULONG CASE_INSENSITIVE = 0x40;            // OBJ_CASE_INSENSITIVE
constexpr ULONG FILE_RENAME_INFORMATION_CLASS = 10; // FileRenameInformation
constexpr NTSTATUS STATUS_NOT_IMPLEMENTED_HERE = static_cast<NTSTATUS>(0xC0000002);

// ntdll's entry points, looked up once: they are not in the import
// libraries every toolchain ships.
struct NtFunctions {
    NtCreateFileFunction create_file;
    StatusToErrorFunction status_to_error;
    NtSetInformationFunction set_information;
};

const NtFunctions& nt() {
    static const NtFunctions functions = [] {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        NtFunctions found{};
        if (ntdll) {
            found.create_file = reinterpret_cast<NtCreateFileFunction>(
                reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateFile")));
            found.status_to_error = reinterpret_cast<StatusToErrorFunction>(
                reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
            found.set_information = reinterpret_cast<NtSetInformationFunction>(
                reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetInformationFile")));
        }
        return found;
    }();
    return functions;
}

constexpr int NAME_CHARS = 260;

// The one place a name of the platform interface becomes the system's
// UTF-16; false for a name that does not convert or holds a separator.
bool wide_name(const char* name, WCHAR* wide, int size, int* length) {
    if (!name || !*name || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    if (!platform_wide_from_cp932(name, wide, static_cast<uint32_t>(size))) {
        return false;
    }
    int count = lstrlenW(wide) + 1;
    for (int i = 0; i < count - 1; ++i) {
        if (wide[i] == L'\\' || wide[i] == L'/' || wide[i] == L':') {
            SetLastError(ERROR_INVALID_NAME);
            return false;
        }
    }
    *length = count - 1;
    return true;
}

// NtCreateFile of name relative to folder; INVALID_HANDLE_VALUE with the
// Win32 error set on failure, *status telling the NT status.
HANDLE open_relative(PlatformFolder folder, const char* name, ACCESS_MASK access, ULONG share,
                     ULONG disposition, ULONG options, NTSTATUS* status = nullptr) {
    WCHAR wide[NAME_CHARS];
    int length = 0;
    if (!nt().create_file || !wide_name(name, wide, NAME_CHARS, &length)) {
        if (!nt().create_file) {
            SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        }
        return INVALID_HANDLE_VALUE;
    }
    UNICODE_STRING text;
    text.Buffer = wide;
    text.Length = static_cast<USHORT>(length * sizeof(WCHAR));
    text.MaximumLength = static_cast<USHORT>(sizeof wide);
    OBJECT_ATTRIBUTES attributes;
    std::memset(&attributes, 0, sizeof attributes);
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = reinterpret_cast<HANDLE>(folder);
    attributes.ObjectName = &text;
    attributes.Attributes = CASE_INSENSITIVE;
    IO_STATUS_BLOCK io;
    HANDLE handle = INVALID_HANDLE_VALUE;
    NTSTATUS result = nt().create_file(
        &handle, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
        disposition, options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
    if (status) {
        *status = result;
    }
    if (result < 0) {
        SetLastError(nt().status_to_error ? nt().status_to_error(result) : ERROR_GEN_FAILURE);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

bool is_reparse_point(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(handle, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool same_file(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION first, second;
    return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

// True unless the folder's final path shows that it does not lie directly
// in parent: a link the file system does not report as a reparse point
// (Wine shows the host's symbolic links so) still resolves elsewhere. When
// either path cannot be had, the reparse check alone decides.
bool lies_in(HANDLE parent, HANDLE folder) {
    constexpr DWORD CHARS = 1024;
    static thread_local WCHAR above[CHARS], below[CHARS];
    DWORD above_length = GetFinalPathNameByHandleW(parent, above, CHARS, FILE_NAME_NORMALIZED);
    DWORD below_length = GetFinalPathNameByHandleW(folder, below, CHARS, FILE_NAME_NORMALIZED);
    if (above_length == 0 || above_length >= CHARS || below_length == 0 || below_length >= CHARS) {
        return true;
    }
    while (above_length > 0 && above[above_length - 1] == L'\\') {
        --above_length; // a drive's root ends in one
    }
    DWORD cut = below_length;
    while (cut > 0 && below[cut - 1] != L'\\') {
        --cut;
    }
    return cut > 0 && cut - 1 == above_length &&
           CompareStringOrdinal(above, static_cast<int>(above_length), below,
                                static_cast<int>(above_length), TRUE) == CSTR_EQUAL;
}

constexpr ACCESS_MASK FOLDER_ACCESS = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
constexpr ULONG SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

} // namespace

PlatformFolder platform_folder_open(const char* path) {
    WidePath wide;
    if (!wide_path(&wide, path)) {
        return PLATFORM_INVALID_FOLDER;
    }
    HANDLE handle = CreateFileW(wide.text, FOLDER_ACCESS, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return PLATFORM_INVALID_FOLDER;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(handle);
        SetLastError(ERROR_DIRECTORY);
        return PLATFORM_INVALID_FOLDER;
    }
    return reinterpret_cast<PlatformFolder>(handle);
}

bool platform_folder_make(PlatformFolder parent, const char* name) {
    NTSTATUS status = 0;
    HANDLE made = open_relative(parent, name, FILE_LIST_DIRECTORY, SHARE_ALL, FILE_CREATE,
                                FILE_DIRECTORY_FILE, &status);
    if (made == INVALID_HANDLE_VALUE) {
        return status == STATUS_NAME_COLLISION;
    }
    CloseHandle(made);
    return true;
}

PlatformFolder platform_folder_open_child(PlatformFolder parent, const char* name) {
    HANDLE handle = open_relative(parent, name, FOLDER_ACCESS, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  FILE_OPEN, 0);
    if (handle == INVALID_HANDLE_VALUE) {
        return PLATFORM_INVALID_FOLDER;
    }
    BY_HANDLE_FILE_INFORMATION info;
    DWORD why = NO_ERROR;
    if (!GetFileInformationByHandle(handle, &info)) {
        why = GetLastError();
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
               !lies_in(reinterpret_cast<HANDLE>(parent), handle)) {
        why = ERROR_LINK_MET;
    } else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        why = ERROR_DIRECTORY;
    }
    if (why != NO_ERROR) {
        CloseHandle(handle);
        SetLastError(why);
        return PLATFORM_INVALID_FOLDER;
    }
    return reinterpret_cast<PlatformFolder>(handle);
}

void platform_folder_close(PlatformFolder folder) {
    if (folder != PLATFORM_INVALID_FOLDER) {
        CloseHandle(reinterpret_cast<HANDLE>(folder));
    }
}

bool platform_error_is_link(int code) {
    return static_cast<DWORD>(code) == ERROR_LINK_MET ||
           static_cast<DWORD>(code) == ERROR_CANT_RESOLVE_FILENAME;
}

PlatformFile platform_folder_create_file(PlatformFolder folder, const char* name,
                                         int* cleanup_slot) {
    // DELETE lets the handle remove its own file and rename it into place.
    HANDLE handle = open_relative(folder, name, GENERIC_READ | GENERIC_WRITE | DELETE,
                                  FILE_SHARE_READ, FILE_CREATE, FILE_NON_DIRECTORY_FILE);
    if (handle == INVALID_HANDLE_VALUE) {
        return PLATFORM_INVALID_FILE;
    }
    PlatformFile file = reinterpret_cast<PlatformFile>(handle);
    if (cleanup_slot) {
        *cleanup_slot = platform_interrupt_cleanup_add(file, name);
    }
    return file;
}

bool platform_folder_has(PlatformFolder folder, const char* name) {
    NTSTATUS status = 0;
    HANDLE handle =
        open_relative(folder, name, FILE_READ_ATTRIBUTES, SHARE_ALL, FILE_OPEN, 0, &status);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return true;
    }
    return status != STATUS_NAME_NOT_FOUND && status != STATUS_PATH_NOT_FOUND && status != 0;
}

bool platform_folder_clear(PlatformFolder folder, const char* name) {
    NTSTATUS status = 0;
    HANDLE handle =
        open_relative(folder, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                      SHARE_ALL, FILE_OPEN, FILE_NON_DIRECTORY_FILE, &status);
    if (handle == INVALID_HANDLE_VALUE) {
        return status == STATUS_NAME_NOT_FOUND;
    }
    FILE_DISPOSITION_INFO dispose = {TRUE};
    bool removed =
        SetFileInformationByHandle(handle, FileDispositionInfo, &dispose, sizeof dispose) != 0;
    FILE_BASIC_INFO basic;
    if (!removed && GetLastError() == ERROR_ACCESS_DENIED &&
        GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        // A read-only leftover is removed as by path: its flag is dropped
        // first, through the handle that deletes it.
        basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
        removed = SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) &&
                  SetFileInformationByHandle(handle, FileDispositionInfo, &dispose, sizeof dispose);
    }
    DWORD why = GetLastError();
    CloseHandle(handle);
    SetLastError(why);
    return removed;
}

bool platform_folder_file_is(PlatformFile file, PlatformFolder folder, const char* name) {
    if (file == PLATFORM_INVALID_FILE) {
        return false;
    }
    HANDLE named = open_relative(folder, name, FILE_READ_ATTRIBUTES, SHARE_ALL, FILE_OPEN, 0);
    if (named == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool same = same_file(reinterpret_cast<HANDLE>(file), named) && !is_reparse_point(named);
    CloseHandle(named);
    return same;
}

bool platform_folder_discard(PlatformFile file, PlatformFolder folder, const char* name) {
    if (file == PLATFORM_INVALID_FILE) {
        return false;
    }
    // The handle's own file is marked, whatever name it has by now.
    (void)folder;
    (void)name;
    FILE_DISPOSITION_INFO dispose = {TRUE};
    bool removed = SetFileInformationByHandle(reinterpret_cast<HANDLE>(file), FileDispositionInfo,
                                              &dispose, sizeof dispose) != 0;
    CloseHandle(reinterpret_cast<HANDLE>(file));
    return removed;
}

bool platform_folder_commit(PlatformFile file, PlatformFolder folder, const char* work_name,
                            const char* name, int cleanup_slot, bool durable) {
    (void)work_name;
    (void)durable; // the file was flushed before; see the note at the top
    // The rename goes through the work file's own handle, relative to the
    // held folder: neither name is looked up along a path again.
    WCHAR wide[NAME_CHARS];
    int length = 0;
    union {
        FILE_RENAME_INFO info;
        unsigned char bytes[sizeof(FILE_RENAME_INFO) + NAME_CHARS * sizeof(WCHAR)];
    } rename;
    bool moved = wide_name(name, wide, NAME_CHARS, &length);
    if (moved) {
        std::memset(&rename, 0, sizeof rename);
        rename.info.ReplaceIfExists = TRUE;
        rename.info.RootDirectory = reinterpret_cast<HANDLE>(folder);
        rename.info.FileNameLength = static_cast<DWORD>(length * sizeof(WCHAR));
        std::memcpy(rename.info.FileName, wide, length * sizeof(WCHAR));
        // FILE_RENAME_INFO has the layout of FILE_RENAME_INFORMATION.
        IO_STATUS_BLOCK io;
        NTSTATUS status =
            nt().set_information
                ? nt().set_information(reinterpret_cast<HANDLE>(file), &io, &rename.info,
                                       sizeof rename, FILE_RENAME_INFORMATION_CLASS)
                : STATUS_NOT_IMPLEMENTED_HERE;
        moved = status >= 0;
        if (!moved) {
            SetLastError(nt().status_to_error ? nt().status_to_error(status) : ERROR_GEN_FAILURE);
        }
    }
    platform_interrupt_cleanup_remove(cleanup_slot);
    if (!moved) {
        DWORD why = GetLastError();
        platform_folder_discard(file, folder, work_name);
        SetLastError(why);
        return false;
    }
    CloseHandle(reinterpret_cast<HANDLE>(file));
    return true;
}
