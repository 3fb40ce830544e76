// The few operating-system operations the library and the updater need.
//
// Two implementations exist: lib/platform/win32 calls the ANSI Win32 functions
// named beside each declaration; lib/platform/posix gives the same observable
// results on Linux. Every narrow string that crosses this header is in code
// page 932 on both builds; the POSIX side converts to and from the file
// system's UTF-8 at this boundary and fails (never alters a name) when a name
// cannot be converted.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Files (CreateFileA, ReadFile, WriteFile, SetFilePointer, GetFileSize,
// CloseHandle, FlushFileBuffers, DeleteFileA, MoveFileA, MoveFileExA)

// An open file: a Win32 HANDLE or a POSIX descriptor, widened.
typedef intptr_t PlatformFile;
constexpr PlatformFile PLATFORM_INVALID_FILE = -1;

enum PlatformAccess : unsigned {
    PLATFORM_ACCESS_READ = 1,  // GENERIC_READ
    PLATFORM_ACCESS_WRITE = 2, // GENERIC_WRITE
    // With READ alone: others may read the file while it is open, but not
    // write, rename or delete it (share mode FILE_SHARE_READ). POSIX has no
    // such share modes; readers there compare sizes instead.
    PLATFORM_ACCESS_DENY_WRITERS = 4,
};

enum PlatformDisposition {
    PLATFORM_OPEN_EXISTING, // the file must exist
    PLATFORM_CREATE_ALWAYS, // create, or truncate an existing file
    PLATFORM_OPEN_ALWAYS,   // open, or create when missing; never truncates
};

// Share mode is read|write unless PLATFORM_ACCESS_DENY_WRITERS says
// otherwise. Returns PLATFORM_INVALID_FILE on failure: access 0, a folder, a
// missing file for OPEN_EXISTING, a read-only file for writing (POSIX: a file
// without any write permission bit), and anything that is not a regular file
// (a FIFO, socket or device), which fails at once instead of blocking.
PlatformFile platform_file_open(const char* path, unsigned access, PlatformDisposition disposition);
// Creates a new regular file for reading and writing, shared with readers
// only. Fails when the name exists in any form, a dangling link included, so
// nothing that is already there is followed or truncated (O_CREAT | O_EXCL |
// O_NOFOLLOW; CREATE_NEW). The handle may also delete the file (see
// platform_file_discard). With cleanup_slot, the file is also registered for
// removal on an interruption (platform_interrupt_cleanup_add) with no moment
// in between at which a signal could leave it behind; the slot comes back
// there (-1 when none was free).
PlatformFile platform_file_create_new(const char* path, int* cleanup_slot = nullptr);
void platform_file_close(PlatformFile file);
// Low 32 bits of the size; the high bits go to *high when it is not null.
// Returns false (and 0) when the size cannot be obtained.
bool platform_file_size(PlatformFile file, uint32_t* low, uint32_t* high);
// Moves the file pointer to an absolute position (from the beginning).
bool platform_file_seek(PlatformFile file, uint32_t position);
// One transfer call each; the result is the count transferred (short counts
// at the end of the file or on a full disk, 0 on error).
uint32_t platform_file_read(PlatformFile file, void* buffer, uint32_t count);
uint32_t platform_file_write(PlatformFile file, const void* buffer, uint32_t count);
// Pushes written data to the device (FlushFileBuffers / fsync).
bool platform_file_sync(PlatformFile file);
// Reads at an absolute position, leaving alone any position other users of
// the handle rely on (pread; ReadFile with an OVERLAPPED offset), so several
// threads may read through one handle. Repeats until count, the end of the
// file or an error.
uint32_t platform_file_read_at(PlatformFile file, uint32_t position, void* buffer, uint32_t count);
// Copies count bytes of from, starting at from_position, into to at
// to_position, without moving either handle's file pointer in a way callers
// rely on. Linux lets the kernel copy (copy_file_range) where
// platform_file_copy_by_kernel says so and falls back to reads and writes
// where the kernel or file system refuses it; Windows reads and writes in
// large blocks. Returns the count copied (short on an error or at the end of
// from).
uint32_t platform_file_copy(PlatformFile from, uint32_t from_position, PlatformFile to,
                            uint32_t to_position, uint32_t count);
// True when platform_file_copy between these positions would ask the kernel
// to copy, false when it reads and writes through a block (then a caller that
// changes bytes on the way does as well reading and writing them itself).
bool platform_file_copy_by_kernel(uint32_t from_position, uint32_t to_position);
// Which copy platform_file_copy makes. Tests force each one to run both
// everywhere; Windows always reads and writes.
enum PlatformCopyMode {
    PLATFORM_COPY_KERNEL_WHERE_CHEAPER, // the default: see platform_file_copy_by_kernel
    PLATFORM_COPY_KERNEL_ALWAYS,
    PLATFORM_COPY_READ_WRITE,
};
void platform_file_copy_mode(PlatformCopyMode mode);

// Writes at an absolute position (pwrite; WriteFile with an OVERLAPPED
// offset): one call instead of a seek and a write. Repeats until count or an
// error; a full disk shows as a short count.
uint32_t platform_file_write_at(PlatformFile file, uint32_t position, const void* buffer,
                                uint32_t count);

// True when path, not followed if it is a link, names the very file that the
// handle holds (same device and file number).
bool platform_file_is(PlatformFile file, const char* path);
// Removes the file created with platform_file_create_new that path names,
// only while path still names that file, and closes the handle either way.
// Windows marks the handle's own file for deletion, so another file put
// under the name is never removed.
bool platform_file_discard(PlatformFile file, const char* path);

bool platform_file_delete(const char* path);
// Renames; fails when the target exists (MoveFileA). POSIX renames within
// one file system only.
bool platform_file_move(const char* from, const char* to);
// Replaces the target atomically and makes the rename durable
// (MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
// rename and fsync of the folder on POSIX, false only when the rename fails
// or that fsync reports an I/O error). A read-only target is not replaced.
bool platform_file_replace(const char* from, const char* to);
// True for an existing file or folder.
bool platform_file_exists(const char* path);
// Puts the file that platform_file_create_new made at path in destination's
// place in one step and closes it. Durable: as platform_file_replace, the
// rename itself reaches the device before this returns; otherwise a plain
// rename (a new name has nothing to lose). Its interruption clean-up
// (cleanup_slot, or -1) ends only once the work name is gone, so no
// interruption can leave it behind. On failure the file is removed
// (platform_file_discard) and closed too.
bool platform_file_commit(PlatformFile file, const char* path, const char* destination,
                          int cleanup_slot, bool durable);

// True when path itself is a symbolic link, junction or other reparse point
// (the link is not followed; a dangling one counts).
bool platform_path_is_link(const char* path);
// Removes a file or a link (never what it points to) left under path; true
// when nothing is left there. A real folder is not removed: it is nothing a
// program leaves behind by accident.
bool platform_path_clear(const char* path);

// ---------------------------------------------------------------------------
// Folder handles (openat, mkdirat, renameat with O_NOFOLLOW; Windows:
// NtCreateFile relative to a folder handle, FILE_OPEN_REPARSE_POINT, and
// NtSetInformationFile's FileRenameInformation)
//
// A path checked and then used by name can be changed in between by whoever
// may write one of its folders. Working from held folders instead, a name is
// looked up exactly once, in the folder that was checked, and a link met on
// the way is refused rather than followed. Names given to these functions
// are single components (no separator).

// An open folder: a POSIX descriptor or a Win32 HANDLE, widened.
typedef intptr_t PlatformFolder;
constexpr PlatformFolder PLATFORM_INVALID_FOLDER = -1;

// Opens the folder that path names. A link within path is followed: the
// caller chose this path; everything below it is then reached through the
// handle.
PlatformFolder platform_folder_open(const char* path);
// Makes the folder name in parent; true when it was made or something of
// that name is already there (platform_folder_open_child then tells what).
bool platform_folder_make(PlatformFolder parent, const char* name);
// Opens the folder name in parent without following a link: a link,
// junction or other reparse point there fails, and platform_error_is_link
// is then true of platform_error_code(). Windows opens it without sharing
// deletion, so that while it is held it can be neither renamed nor removed.
PlatformFolder platform_folder_open_child(PlatformFolder parent, const char* name);
void platform_folder_close(PlatformFolder folder);
// True when the code says a link stood where a folder or file was expected.
bool platform_error_is_link(int code);

// platform_file_create_new for name in folder. With cleanup_slot, the file
// is registered for removal on an interruption by folder and name (the
// folder must stay open until the file is committed or discarded).
PlatformFile platform_folder_create_file(PlatformFolder folder, const char* name,
                                         int* cleanup_slot = nullptr);
// True when name in folder exists in any form, a dangling link included.
bool platform_folder_has(PlatformFolder folder, const char* name);
// platform_path_clear for name in folder.
bool platform_folder_clear(PlatformFolder folder, const char* name);
// platform_file_is for name in folder.
bool platform_folder_file_is(PlatformFile file, PlatformFolder folder, const char* name);
// platform_file_commit within one folder: the file made as work_name is
// renamed to name in the same folder, replacing what is there (a link
// itself, never what it points to; a read-only file is not replaced).
bool platform_folder_commit(PlatformFile file, PlatformFolder folder, const char* work_name,
                            const char* name, int cleanup_slot, bool durable);
// platform_file_discard for name in folder.
bool platform_folder_discard(PlatformFile file, PlatformFolder folder, const char* name);

// ---------------------------------------------------------------------------
// Folder locks (POSIX flock on the folder; Win32 a file that shares nothing)

// Takes the lock of folder (the install folder of an update), waiting up to
// wait_ms while another process holds it. The lock lapses when its holder
// ends, even by a crash, and no one can take it away meanwhile:
// - POSIX: flock on the folder's own descriptor (opened O_DIRECTORY |
//   O_NOFOLLOW, so a link planted as the folder is refused). There is no
//   lock file anyone could delete; lock_file is not used.
// - Windows: the file lock_file (inside folder), created if missing, never
//   through a reparse point, opened sharing nothing (no one may open, rename
//   or delete it while it is held) and deleted when its handle closes.
// PLATFORM_INVALID_FILE when it cannot be had: *busy is then true when
// another process holds it, false when it cannot be made at all (the folder
// is missing or a link, or no file may be created in it); the platform's
// error code then says why.
PlatformFile platform_folder_lock_acquire(const char* folder, const char* lock_file,
                                          uint32_t wait_ms, bool* busy);
// Lets the lock go (Windows: which deletes its file).
void platform_folder_lock_release(PlatformFile lock);

// ---------------------------------------------------------------------------
// Snapshots of a file that others may write

// Opens the regular file at path for reading so that every read through the
// returned handle gives the same bytes until it is closed, whoever else
// writes the name meanwhile.
// - Windows: the file itself, shared with readers only: no one may write,
//   rename or delete it while the handle is open.
// - POSIX, where writers cannot be refused: a private copy of the file in
//   anonymous memory (memfd_create, sealed against every change), or where
//   that is missing an unlinked temporary file, which no other process can
//   reach. A file whose size changes while it is copied fails (the error is
//   EAGAIN); one of 4 GiB or more fails (EFBIG).
PlatformFile platform_file_snapshot(const char* path);
// True when platform_file_snapshot gives the named file itself (Windows), so
// that platform_file_is still tells whether the name names what was read;
// false when it gives a copy (POSIX).
bool platform_file_snapshot_is_original();

// ---------------------------------------------------------------------------
// Interruptions (SIGINT, SIGTERM, SIGHUP, SIGPIPE; console Ctrl+C and close)

// Installs handlers that remove every file registered below and end the
// process as the interruption would have (130 for SIGINT or Ctrl+C, 143 for
// SIGTERM or a closed console). Once per process; later calls do nothing.
void platform_interrupt_cleanup_install();
// Registers a file to remove on an interruption: path with the handle that
// created it (the name is removed only while it still names that file).
// Returns a slot for platform_interrupt_cleanup_remove, -1 when every slot
// is taken (the file is then simply not removed).
int platform_interrupt_cleanup_add(PlatformFile file, const char* path);
void platform_interrupt_cleanup_remove(int slot);

// ---------------------------------------------------------------------------
// Folders (GetCurrentDirectoryA, SHGetSpecialFolderPathA, GetFullPathNameA,
// GetFileAttributesA, CreateDirectoryA, RemoveDirectoryA, FindFirstFileA,
// FindNextFileA, FindClose)

// Attribute bits, the same values as the file-system layer's DirEntry bits.
constexpr uint32_t PLATFORM_ATTRIBUTE_READONLY = 0x01;
constexpr uint32_t PLATFORM_ATTRIBUTE_DIRECTORY = 0x80;
// Neither a regular file nor a folder: a FIFO, socket or device
// (FILE_ATTRIBUTE_DEVICE). No DirEntry bit; walks leave such entries out.
constexpr uint32_t PLATFORM_ATTRIBUTE_SPECIAL = 0x40;
// Returned by platform_attributes for a path that does not exist.
constexpr uint32_t PLATFORM_ATTRIBUTES_INVALID = 0xFFFFFFFFu;

// The folder separator of this platform ('\\' on Windows, '/' on POSIX).
char platform_separator();

// Copies the current directory (no trailing separator) into buffer; false
// when it does not fit or cannot be read.
bool platform_current_dir(char* buffer, uint32_t length);
// The user's application-data folder, created if missing, into a buffer of
// at least 260 bytes (CSIDL_APPDATA; POSIX: $XDG_DATA_HOME or ~/.local/share).
bool platform_app_data_dir(char* buffer);
// Full, canonical form of path (platform separators, "." and ".." resolved,
// relative paths taken from the current directory); works for paths that do
// not exist. Returns the length of the result; a result of length or more
// means it did not fit and nothing usable was written; 0 on failure.
uint32_t platform_full_path(char* buffer, uint32_t length, const char* path);
uint32_t platform_attributes(const char* path);
bool platform_make_dir(const char* path);
bool platform_remove_dir(const char* path);

// One entry of a folder listing.
struct PlatformFindData {
    char name[260];          // the entry's own name, code page 932
    uint32_t size_low;       // nFileSizeLow
    uint32_t attributes;     // PLATFORM_ATTRIBUTE_* bits
    bool name_unconvertible; // POSIX: the name has no code page 932 form; name holds its raw bytes
};
typedef intptr_t PlatformFind;
constexpr PlatformFind PLATFORM_INVALID_FIND = -1;

// pattern is a folder path followed by a separator and "*". The listing
// includes the "." and ".." entries, as FindFirstFileA does (POSIX lists them
// first). Fails when the folder cannot be listed.
PlatformFind platform_find_first(const char* pattern, PlatformFindData* data);
bool platform_find_next(PlatformFind find, PlatformFindData* data);
void platform_find_close(PlatformFind find);

// ---------------------------------------------------------------------------
// Paths of the updater (GetModuleFileNameA, PathFindFileNameA, PathCombineA,
// PathMatchSpecA)

// The running executable's full path; false when it does not fit.
bool platform_module_path(char* buffer, uint32_t length);
// The position after the last separator ("\\" or "/") that has a name after
// it, so "a\\b\\" gives "b\\" (PathFindFileNameA); double-byte aware: a
// trail byte 0x5C is no separator.
const char* platform_path_find_file_name(const char* path);
// PathCombineA: joins folder and file into dest (260 bytes) with exactly one
// separator between them, "." and ".." resolved; an empty folder yields the
// file alone, an empty file the folder alone, an absolute file itself.
// Returns dest, or null (and dest empty) when the joined text does not fit;
// a part is never cut short.
char* platform_path_combine(char* dest, const char* folder, const char* file);
// MS-DOS wildcard match of path against ";"-separated patterns, as
// PathMatchSpecA matches, by the library's own matcher on both builds.
bool platform_path_match_pattern(const char* path, const char* patterns);

// ---------------------------------------------------------------------------
// Memory (GetProcessHeap, HeapAlloc, HeapReAlloc, HeapFree)

typedef void* PlatformHeap;
PlatformHeap platform_process_heap();
void* platform_heap_alloc(PlatformHeap heap, size_t size);
void* platform_heap_realloc(PlatformHeap heap, void* block, size_t size);
void platform_heap_free(PlatformHeap heap, void* block);

// ---------------------------------------------------------------------------
// Diagnostics (OutputDebugStringA, MessageBoxA)

// The debugger output; standard error on POSIX.
void platform_debug_output(const char* text);
// A modal message box; POSIX prints caption and text to standard error and
// returns 1 (IDOK).
int platform_message_box(void* owner, const char* text, const char* caption, unsigned style);

// The operating system's code for the last failure of this thread (errno;
// GetLastError), to keep across calls that may change it and to put back.
int platform_error_code();
void platform_error_restore(int code);
// The operating system's words for a code (strerror; FormatMessageA, code
// page 932 on a Japanese system) into buffer, without a line end.
const char* platform_error_text(int code, char* buffer, uint32_t size);
// The code of "permission denied" and of "no such file", for callers that
// word a message by it.
bool platform_error_is_denied(int code);
bool platform_error_is_missing(int code);

// ---------------------------------------------------------------------------
// Threads (critical sections, CreateThread, SetThreadPriority, ExitThread,
// events, waits, QueryPerformanceCounter, Sleep)

// Room for the operating system's lock object (a CRITICAL_SECTION, or a
// recursive pthread mutex), aligned for either.
#if UINTPTR_MAX > 0xFFFFFFFFu
constexpr size_t PLATFORM_LOCK_STORAGE = 48;
#else
constexpr size_t PLATFORM_LOCK_STORAGE = 28;
#endif

// Builds a re-entrant lock in storage (at least PLATFORM_LOCK_STORAGE bytes,
// pointer-aligned).
void platform_lock_init(void* storage);
void platform_lock_delete(void* storage);
void platform_lock_enter(void* storage);
bool platform_lock_try_enter(void* storage);
void platform_lock_leave(void* storage);

// The calling convention CreateThread expects of a thread's entry.
#if defined(_WIN32)
#define PLATFORM_THREAD_CALL __stdcall
#else
#define PLATFORM_THREAD_CALL
#endif

typedef void* PlatformThread; // null: no thread
typedef unsigned long(PLATFORM_THREAD_CALL* PlatformThreadEntry)(void* argument);
PlatformThread platform_thread_create(uint32_t stack_size, PlatformThreadEntry entry,
                                      void* argument);
// Waits with no time-out; returns 0 (WAIT_OBJECT_0) when the thread ended,
// PLATFORM_WAIT_FAILED for a null handle. May be called more than once.
constexpr uint32_t PLATFORM_WAIT_FAILED = 0xFFFFFFFFu;
uint32_t platform_thread_wait(PlatformThread thread);
bool platform_thread_close(PlatformThread thread);
// level: -2 lowest .. 2 highest (THREAD_PRIORITY_*). POSIX keeps the level
// and applies it as a nice value where the process may.
bool platform_thread_set_priority(PlatformThread thread, int level);
int platform_thread_get_priority(PlatformThread thread);
[[noreturn]] void platform_thread_exit(uint32_t code);
uint32_t platform_thread_current_id();

typedef void* PlatformEvent; // auto-reset, starts non-signalled; null on failure
PlatformEvent platform_event_create();
bool platform_event_destroy(PlatformEvent event);
uint32_t platform_event_wait(PlatformEvent event); // 0 when signalled, else PLATFORM_WAIT_FAILED
bool platform_event_signal(PlatformEvent event);

int64_t platform_performance_counter();
int64_t platform_performance_frequency();
void platform_sleep_ms(uint32_t milliseconds);
