#include "fs/disk_fs.h"

#include <cstdio>
#include <cstring>

#include "stream/stream.h"
#include "support/memory.h"

// The header alone: a disk file system keeps no state of its own.
struct DiskFileSystem {
    FileSystem base;
};

// The path handed on by open and enumerate: an absolute path goes straight
// onto the root, a relative one through the current directory. False when
// it does not fit; then nothing may touch the disk.
static bool disk_compose(FileSystem* fs, char* out, const char* path) {
    const FileSystemHeader* header = &fs->header;
    int written = path[0] == '/' ? std::snprintf(out, FS_PATH_SIZE, "%s%s", header->root_path, path)
                                 : std::snprintf(out, FS_PATH_SIZE, "%s%s/%s", header->root_path,
                                                 header->current_dir, path);
    return written >= 0 && static_cast<uint32_t>(written) < FS_PATH_SIZE;
}

// make_dir and remove_dir must be able to name the root folder itself, so
// "/" means the bare root path there, with no separator after it.
static bool disk_compose_dir(FileSystem* fs, char* out, const char* path) {
    const char* root = fs->header.root_path;
    if (std::strcmp(path, "/") == 0) {
        std::memcpy(out, root, std::strlen(root) + 1);
        return true;
    }
    char resolved[FS_PATH_SIZE];
    if (!fs_resolve_path(fs, resolved, sizeof resolved, path)) {
        return false;
    }
    int written = std::snprintf(out, FS_PATH_SIZE, "%s%s", root, resolved);
    return written >= 0 && static_cast<uint32_t>(written) < FS_PATH_SIZE;
}

// The parent is not ours to close.
static int disk_close(FileSystem* fs) {
    mem_free(fs);
    return 1;
}

static Stream* disk_open(FileSystem* fs, const char* path, uint32_t offset, uint32_t length,
                         uint32_t flags, Allocator* allocator) {
    char composed[FS_PATH_SIZE];
    if (!disk_compose(fs, composed, path)) {
        return nullptr;
    }
    if (fs->header.parent) {
        return fs_open(fs->header.parent, composed, offset, length, flags, allocator);
    }
    return stream_open_file(composed, offset, length, flags, allocator);
}

static int disk_enumerate(FileSystem* fs, const char* path, int recursive, void* context,
                          EnumCallback callback) {
    char composed[FS_PATH_SIZE];
    if (!disk_compose(fs, composed, path)) {
        return 0;
    }
    if (fs->header.parent) {
        return fs_enumerate(fs->header.parent, composed, recursive, context, callback);
    }
    return disk_walk(composed, recursive, context, fs, callback);
}

static int disk_fs_make_dir(FileSystem* fs, const char* path) {
    char composed[FS_PATH_SIZE];
    if (!disk_compose_dir(fs, composed, path)) {
        return 0;
    }
    if (fs->header.parent) {
        return fs_make_dir(fs->header.parent, composed);
    }
    return disk_make_dir(composed);
}

static int disk_fs_remove_dir(FileSystem* fs, const char* path) {
    char composed[FS_PATH_SIZE];
    if (!disk_compose_dir(fs, composed, path)) {
        return 0;
    }
    if (fs->header.parent) {
        return fs_remove_dir(fs->header.parent, composed);
    }
    return disk_remove_dir(composed);
}

static const FileSystemOps disk_fs_ops = {
    .close = disk_close,
    .open = disk_open,
    .enumerate = disk_enumerate,
    .make_dir = disk_fs_make_dir,
    .remove_dir = disk_fs_remove_dir,
};

FileSystem* disk_fs_create(FileSystem* parent, const char* root_path, Allocator* allocator) {
    // A root that does not fit the header is refused rather than cut short:
    // a shortened root would map paths onto some other folder.
    size_t root_length = std::strlen(root_path);
    if (root_length >= FS_PATH_SIZE) {
        return nullptr;
    }
    auto* disk = static_cast<DiskFileSystem*>(mem_alloc(allocator, sizeof(DiskFileSystem), 0));
    if (!disk) {
        return nullptr;
    }
    std::memset(disk, 0, sizeof *disk);
    FileSystemHeader* header = &disk->base.header;
    header->ops = &disk_fs_ops;
    header->parent = parent;
    std::memcpy(header->root_path, root_path, root_length + 1);
    return &disk->base;
}
