// The directory interface over disk folders and archives, its free
// functions, and the process-wide mount table.
#pragma once

#include <cstdint>

struct Allocator;
struct Stream;
struct FileSystem;

constexpr uint32_t FS_PATH_SIZE = 512;

constexpr uint32_t DIRENTRY_READONLY = 0x01;
constexpr uint32_t DIRENTRY_DIRECTORY = 0x80;
// A disk entry that is neither a regular file nor a folder (a FIFO, socket
// or device): listed so that callers can say what they leave out, but never
// opened. Outside the 8 bits an archive record stores.
constexpr uint32_t DIRENTRY_SPECIAL = 0x100;

struct DirEntry {
    char name[FS_PATH_SIZE];
    uint32_t size;
    uint32_t attributes;
};

typedef int (*EnumCallback)(void* context, FileSystem* fs, DirEntry* entry);

// Slot order is fixed; a kind may leave a slot null, and its free function
// then answers with 0 or null instead of calling it.
struct FileSystemOps {
    // Releases the file system; streams it opened may outlive it (an
    // archive keeps its file open until the last of them closes).
    int (*close)(FileSystem* fs);
    // A stream of the file at path (relative to the current directory, or
    // absolute with a leading "/"): a window of length bytes from offset,
    // length 0 or one past the end meaning up to the end. Null, with a
    // reason (error_reason_last), when the file is not there, is a folder,
    // or cannot be read; an archive refuses STREAM_OPEN_WRITE and windows
    // that start inside compressed data.
    Stream* (*open)(FileSystem* fs, const char* path, uint32_t offset, uint32_t length,
                    uint32_t flags, Allocator* allocator);
    // Calls callback for each entry of the folder at path, every folder
    // before its contents, names beginning with path as the caller gave it;
    // 0 when there is no such folder.
    int (*enumerate)(FileSystem* fs, const char* path, int recursive, void* context,
                     EnumCallback callback);
    int (*make_dir)(FileSystem* fs, const char* path);
    int (*remove_dir)(FileSystem* fs, const char* path);
};

// The table of a file system that is only read (an archive, a view): no
// make_dir and no remove_dir, which fs_make_dir and fs_remove_dir then
// refuse.
constexpr FileSystemOps fs_read_only_ops(decltype(FileSystemOps::close) close,
                                         decltype(FileSystemOps::open) open,
                                         decltype(FileSystemOps::enumerate) enumerate) {
    return {
        .close = close,
        .open = open,
        .enumerate = enumerate,
        .make_dir = nullptr,
        .remove_dir = nullptr,
    };
}

// The four fields every file-system object begins with.
struct FileSystemHeader {
    const FileSystemOps* ops;
    char current_dir[FS_PATH_SIZE];
    FileSystem* parent;
    char root_path[FS_PATH_SIZE];
};

struct FileSystem {
    FileSystemHeader header;
};

// Null fs: the operating system's file system itself.
Stream* fs_open(FileSystem* fs, const char* path, uint32_t offset, uint32_t length, uint32_t flags,
                Allocator* allocator);
int fs_close(FileSystem* fs);
int fs_enumerate(FileSystem* fs, const char* path, int recursive, void* context,
                 EnumCallback callback);
int fs_make_dir(FileSystem* fs, const char* path);
int fs_remove_dir(FileSystem* fs, const char* path);
// output holds at least FS_PATH_SIZE bytes.
int fs_get_current_dir(FileSystem* fs, char* output);
// directory is empty (the root) or absolute without a trailing "/"; 0 and
// the old one kept when it does not fit FS_PATH_SIZE.
int fs_set_current_dir(FileSystem* fs, const char* directory);
// The absolute form of path; 0 and nothing written when it does not fit.
int fs_resolve_path(FileSystem* fs, char* output, uint32_t output_size, const char* path);

// Mount table. fs_init and fs_shutdown nest; the outermost pair creates and
// closes the disk file systems of slots 0 and 1. An empty slot or an index
// outside 0..7 makes fs_open_mount open the path directly on disk.
constexpr int MOUNT_CURRENT_DIR = 0;
constexpr int MOUNT_APP_DATA = 1;
constexpr int MOUNT_SLOTS = 8;

void fs_init(Allocator* allocator);
void fs_shutdown();
int fs_set_mount(int index, FileSystem* fs);
FileSystem* fs_get_mount(int index);
Stream* fs_open_mount(int index, const char* path, uint32_t offset, uint32_t length, uint32_t flags,
                      Allocator* allocator);
Stream* fs_open_mount_whole(int index, const char* path, uint32_t flags, Allocator* allocator);
