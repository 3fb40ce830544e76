#include "fs/filesystem.h"

#include <cstring>

#include "stream/stream.h"

// Every call goes through the kind's table; an empty slot answers with a
// fixed result so that a read-only kind needs no stubs.

Stream* fs_open(FileSystem* fs, const char* path, uint32_t offset, uint32_t length, uint32_t flags,
                Allocator* allocator) {
    if (!fs) {
        return stream_open_file(path, offset, length, flags, allocator);
    }
    if (!fs->header.ops->open) {
        return nullptr;
    }
    return fs->header.ops->open(fs, path, offset, length, flags, allocator);
}

int fs_close(FileSystem* fs) {
    if (!fs->header.ops->close) {
        return 0;
    }
    return fs->header.ops->close(fs);
}

int fs_enumerate(FileSystem* fs, const char* path, int recursive, void* context,
                 EnumCallback callback) {
    if (!fs->header.ops->enumerate) {
        return 0;
    }
    return fs->header.ops->enumerate(fs, path, recursive, context, callback);
}

int fs_make_dir(FileSystem* fs, const char* path) {
    if (!fs->header.ops->make_dir) {
        return 0;
    }
    return fs->header.ops->make_dir(fs, path);
}

// A kind that cannot remove folders has nothing to remove: reported as done.
int fs_remove_dir(FileSystem* fs, const char* path) {
    if (!fs->header.ops->remove_dir) {
        return 1;
    }
    return fs->header.ops->remove_dir(fs, path);
}

int fs_get_current_dir(FileSystem* fs, char* output) {
    std::memcpy(output, fs->header.current_dir, std::strlen(fs->header.current_dir) + 1);
    return 1;
}

// A directory that does not fit is refused and the old one kept, rather than
// running past the end of the header.
int fs_set_current_dir(FileSystem* fs, const char* directory) {
    size_t length = std::strlen(directory);
    if (length >= FS_PATH_SIZE) {
        return 0;
    }
    std::memcpy(fs->header.current_dir, directory, length + 1);
    return 1;
}

int fs_resolve_path(FileSystem* fs, char* output, uint32_t output_size, const char* path) {
    size_t path_length = std::strlen(path);
    if (path[0] == '/') {
        if (path_length >= output_size) {
            return 0;
        }
        std::memcpy(output, path, path_length + 1);
        return 1;
    }
    const char* current = fs->header.current_dir;
    size_t current_length = std::strlen(current);
    if (current_length + path_length + 1 >= output_size) {
        return 0;
    }
    std::memcpy(output, current, current_length);
    output[current_length] = '/';
    std::memcpy(output + current_length + 1, path, path_length + 1);
    return 1;
}
