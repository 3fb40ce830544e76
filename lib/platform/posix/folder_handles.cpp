#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "attributes.h"
#include "codepage.h"
#include "interrupt.h"
#include "platform/platform.h"

// Everything below a held folder goes through *at calls on its descriptor:
// a name is looked up once, in that folder, and never through a link, so a
// folder swapped for a link after it was checked cannot send a file
// elsewhere.

namespace {

int folder_descriptor(PlatformFolder folder) {
    return static_cast<int>(folder);
}

// A single name component in the file system's encoding; a separator or an
// empty name would reach beyond the folder and is refused.
bool native_name(CodepagePath* out, const char* name) {
    if (!name || !*name) {
        errno = EINVAL;
        return false;
    }
    if (!codepage_path(out, name)) {
        errno = EILSEQ;
        return false;
    }
    for (const char* c = out->text; *c; ++c) {
        if (*c == '/') {
            errno = EINVAL;
            return false;
        }
    }
    if ((out->text[0] == '.' && out->text[1] == '\0') ||
        (out->text[0] == '.' && out->text[1] == '.' && out->text[2] == '\0')) {
        errno = EINVAL;
        return false;
    }
    return true;
}

bool is_link_at(int folder, const char* native) {
    struct stat info;
    return fstatat(folder, native, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
}

bool same_file(int fd, int folder, const char* native) {
    struct stat held, named;
    return fstat(fd, &held) == 0 && fstatat(folder, native, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

} // namespace

PlatformFolder platform_folder_open(const char* path) {
    CodepagePath native;
    if (!codepage_path(&native, path)) {
        return PLATFORM_INVALID_FOLDER;
    }
    int fd;
    do {
        fd = open(native.text, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? PLATFORM_INVALID_FOLDER : fd;
}

bool platform_folder_make(PlatformFolder parent, const char* name) {
    CodepagePath native;
    if (!native_name(&native, name)) {
        return false;
    }
    return mkdirat(folder_descriptor(parent), native.text, 0755) == 0 || errno == EEXIST;
}

PlatformFolder platform_folder_open_child(PlatformFolder parent, const char* name) {
    CodepagePath native;
    if (!native_name(&native, name)) {
        return PLATFORM_INVALID_FOLDER;
    }
    int fd;
    do {
        fd = openat(folder_descriptor(parent), native.text,
                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // O_NOFOLLOW with O_DIRECTORY reports a link as "not a directory";
        // say what it is.
        if (is_link_at(folder_descriptor(parent), native.text)) {
            errno = ELOOP;
        }
        return PLATFORM_INVALID_FOLDER;
    }
    return fd;
}

void platform_folder_close(PlatformFolder folder) {
    if (folder != PLATFORM_INVALID_FOLDER) {
        close(folder_descriptor(folder));
    }
}

bool platform_error_is_link(int code) {
    return code == ELOOP;
}

PlatformFile platform_folder_create_file(PlatformFolder folder, const char* name,
                                         int* cleanup_slot) {
    CodepagePath native;
    if (!native_name(&native, name)) {
        return PLATFORM_INVALID_FILE;
    }
    int fd = interrupt_safe_create_at(folder_descriptor(folder), native.text, cleanup_slot);
    return fd < 0 ? PLATFORM_INVALID_FILE : fd;
}

bool platform_folder_has(PlatformFolder folder, const char* name) {
    CodepagePath native;
    struct stat info;
    return native_name(&native, name) &&
           fstatat(folder_descriptor(folder), native.text, &info, AT_SYMLINK_NOFOLLOW) == 0;
}

bool platform_folder_clear(PlatformFolder folder, const char* name) {
    CodepagePath native;
    if (!native_name(&native, name)) {
        return false;
    }
    struct stat info;
    if (fstatat(folder_descriptor(folder), native.text, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT;
    }
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return false;
    }
    return unlinkat(folder_descriptor(folder), native.text, 0) == 0 || errno == ENOENT;
}

bool platform_folder_file_is(PlatformFile file, PlatformFolder folder, const char* name) {
    CodepagePath native;
    return file != PLATFORM_INVALID_FILE && native_name(&native, name) &&
           same_file(static_cast<int>(file), folder_descriptor(folder), native.text);
}

bool platform_folder_discard(PlatformFile file, PlatformFolder folder, const char* name) {
    bool removed = false;
    CodepagePath native;
    if (file != PLATFORM_INVALID_FILE && native_name(&native, name) &&
        same_file(static_cast<int>(file), folder_descriptor(folder), native.text)) {
        removed = unlinkat(folder_descriptor(folder), native.text, 0) == 0;
    }
    platform_file_close(file);
    return removed;
}

bool platform_folder_commit(PlatformFile file, PlatformFolder folder, const char* work_name,
                            const char* name, int cleanup_slot, bool durable) {
    int at = folder_descriptor(folder);
    CodepagePath source, target;
    bool moved = native_name(&source, work_name) && native_name(&target, name);
    struct stat info;
    if (moved && fstatat(at, target.text, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode) && posix_mode_read_only(info.st_mode)) {
        errno = EACCES; // as MoveFileExA, a read-only file is not replaced
        moved = false;
    }
    moved = moved && renameat(at, source.text, at, target.text) == 0;
    // The rename is durable once the folder's entry is on the device; only
    // an I/O error of that sync counts (some file systems cannot sync a
    // folder at all).
    if (moved && durable) {
        int result;
        do {
            result = fsync(at);
        } while (result != 0 && errno == EINTR);
        if (result != 0 && errno == EIO) {
            platform_interrupt_cleanup_remove(cleanup_slot);
            platform_file_close(file);
            errno = EIO;
            return false;
        }
    }
    platform_interrupt_cleanup_remove(cleanup_slot);
    if (!moved) {
        int why = errno;
        platform_folder_discard(file, folder, work_name);
        errno = why;
        return false;
    }
    platform_file_close(file);
    return true;
}
