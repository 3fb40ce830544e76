#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "attributes.h"
#include "codepage.h"
#include "interrupt.h"
#include "platform/file_copy_block.h"
#include "platform/platform.h"

// The file functions behave as their Win32 counterparts do for the library:
// the same open rules, one logical transfer per call, the size split into
// 32-bit halves.

static int file_descriptor(PlatformFile file) {
    return static_cast<int>(file);
}

// Keeps fd when it is a regular file, in blocking mode from now on;
// otherwise closes it (EISDIR for a folder, ENXIO for FIFOs, sockets and
// devices) and returns false.
static bool file_is_regular(int fd) {
    struct stat info;
    int why = 0;
    if (fstat(fd, &info) != 0) {
        why = errno;
    } else if (S_ISDIR(info.st_mode)) {
        why = EISDIR;
    } else if (!S_ISREG(info.st_mode)) {
        why = ENXIO;
    }
    int flags = why ? 0 : fcntl(fd, F_GETFL);
    if (!why && (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)) {
        why = errno;
    }
    if (why) {
        close(fd);
        errno = why;
        return false;
    }
    return true;
}

PlatformFile platform_file_open(const char* path, unsigned access,
                                PlatformDisposition disposition) {
    int flags;
    switch (access & (PLATFORM_ACCESS_READ | PLATFORM_ACCESS_WRITE)) {
    case PLATFORM_ACCESS_READ:
        flags = O_RDONLY;
        break;
    case PLATFORM_ACCESS_WRITE:
        flags = O_WRONLY;
        break;
    case PLATFORM_ACCESS_READ | PLATFORM_ACCESS_WRITE:
        flags = O_RDWR;
        break;
    default:
        return PLATFORM_INVALID_FILE;
    }
    switch (disposition) {
    case PLATFORM_OPEN_EXISTING:
        break;
    case PLATFORM_CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case PLATFORM_OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    default:
        return PLATFORM_INVALID_FILE;
    }
    CodepagePath native;
    if (!codepage_path(&native, path)) {
        return PLATFORM_INVALID_FILE;
    }
    // CreateFileA refuses to write a read-only file, even to an administrator.
    struct stat existing;
    if ((access & PLATFORM_ACCESS_WRITE) && stat(native.text, &existing) == 0 &&
        S_ISREG(existing.st_mode) && posix_mode_read_only(existing.st_mode)) {
        errno = EACCES;
        return PLATFORM_INVALID_FILE;
    }
    // O_NONBLOCK keeps a FIFO without a writer (or a reader) from blocking
    // the open; anything but a regular file is refused right after it.
    int fd;
    do {
        fd = open(native.text, flags | O_CLOEXEC | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return PLATFORM_INVALID_FILE;
    }
    if (!file_is_regular(fd)) {
        return PLATFORM_INVALID_FILE;
    }
    return fd;
}

PlatformFile platform_file_create_new(const char* path, int* cleanup_slot) {
    CodepagePath native;
    if (!codepage_path(&native, path)) {
        return PLATFORM_INVALID_FILE;
    }
    int fd = interrupt_safe_create_at(AT_FDCWD, native.text, cleanup_slot);
    return fd < 0 ? PLATFORM_INVALID_FILE : fd;
}

void platform_file_close(PlatformFile file) {
    if (file != PLATFORM_INVALID_FILE) {
        close(file_descriptor(file)); // no retry on EINTR: the descriptor is gone either way
    }
}

bool platform_file_size(PlatformFile file, uint32_t* low, uint32_t* high) {
    struct stat info;
    bool ok = file != PLATFORM_INVALID_FILE && fstat(file_descriptor(file), &info) == 0;
    uint64_t size = ok ? static_cast<uint64_t>(info.st_size) : 0;
    if (low) {
        *low = static_cast<uint32_t>(size);
    }
    if (high) {
        *high = static_cast<uint32_t>(size >> 32);
    }
    return ok;
}

bool platform_file_seek(PlatformFile file, uint32_t position) {
    return lseek(file_descriptor(file), static_cast<off_t>(position), SEEK_SET) ==
           static_cast<off_t>(position);
}

// ReadFile and WriteFile on a disk file transfer everything they can in one
// call; POSIX may stop early (signals, huge counts), so the call is repeated
// until the count is done, the end of the file is reached or an error comes
// (a full disk shows as a short count). transfer(done) moves bytes from
// done on and returns what read/write would.
template <typename Transfer>
static uint32_t transfer_all(uint32_t count, Transfer transfer) {
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = transfer(done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<uint32_t>(n);
    }
    return done;
}

uint32_t platform_file_read(PlatformFile file, void* buffer, uint32_t count) {
    return transfer_all(count, [&](uint32_t done) {
        return read(file_descriptor(file), static_cast<char*>(buffer) + done, count - done);
    });
}

uint32_t platform_file_write(PlatformFile file, const void* buffer, uint32_t count) {
    return transfer_all(count, [&](uint32_t done) {
        return write(file_descriptor(file), static_cast<const char*>(buffer) + done, count - done);
    });
}

bool platform_file_sync(PlatformFile file) {
    int result;
    do {
        result = fsync(file_descriptor(file));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

uint32_t platform_file_read_at(PlatformFile file, uint32_t position, void* buffer, uint32_t count) {
    return transfer_all(count, [&](uint32_t done) {
        return pread(file_descriptor(file), static_cast<char*>(buffer) + done, count - done,
                     static_cast<off_t>(position) + done);
    });
}

uint32_t platform_file_write_at(PlatformFile file, uint32_t position, const void* buffer,
                                uint32_t count) {
    return transfer_all(count, [&](uint32_t done) {
        return pwrite(file_descriptor(file), static_cast<const char*>(buffer) + done, count - done,
                      static_cast<off_t>(position) + done);
    });
}

static std::atomic<PlatformCopyMode> copy_mode{PLATFORM_COPY_KERNEL_WHERE_CHEAPER};

void platform_file_copy_mode(PlatformCopyMode mode) {
    copy_mode = mode;
}

// Without block sharing (ext4 and most local file systems) the kernel copies
// through the page cache a pipe's worth at a time; where the two positions
// sit at different offsets within a page every page is written in two
// pieces, and that costs a third more than reading and writing through a
// block. Positions that agree within a page are left to the kernel, which
// also lets file systems that share blocks (Btrfs, XFS) clone them.
bool platform_file_copy_by_kernel(uint32_t from_position, uint32_t to_position) {
    constexpr uint32_t PAGE = 4096;
    switch (copy_mode.load()) {
    case PLATFORM_COPY_KERNEL_ALWAYS:
        return true;
    case PLATFORM_COPY_READ_WRITE:
        return false;
    default:
        return from_position % PAGE == to_position % PAGE;
    }
}

uint32_t platform_file_copy(PlatformFile from, uint32_t from_position, PlatformFile to,
                            uint32_t to_position, uint32_t count) {
    int in = file_descriptor(from);
    int out = file_descriptor(to);
    off_t in_at = from_position;
    off_t out_at = to_position;
    uint32_t done = 0;
    while (platform_file_copy_by_kernel(from_position, to_position) && done < count) {
        ssize_t n = copy_file_range(in, &in_at, out, &out_at, count - done, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                      errno == EBADF || errno == ETXTBSY)) {
            break; // not between these files: the rest goes through a buffer
        }
        if (n <= 0) {
            return done; // an I/O error or the end of from
        }
        done += uint32_t(n);
    }
    return done + platform_file_copy_through_block(from, from_position + done, to,
                                                   to_position + done, count - done);
}

bool platform_file_is(PlatformFile file, const char* path) {
    CodepagePath native;
    struct stat held, named;
    return file != PLATFORM_INVALID_FILE && codepage_path(&native, path) &&
           fstat(file_descriptor(file), &held) == 0 && lstat(native.text, &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

bool platform_file_discard(PlatformFile file, const char* path) {
    // Whoever can write the folder may have moved another file under the
    // name since it was created: only our own file is removed.
    bool removed = false;
    CodepagePath native;
    if (platform_file_is(file, path) && codepage_path(&native, path)) {
        removed = unlink(native.text) == 0;
    }
    platform_file_close(file);
    return removed;
}

bool platform_file_delete(const char* path) {
    CodepagePath native;
    if (!codepage_path(&native, path)) {
        return false;
    }
    struct stat info;
    if (lstat(native.text, &info) == 0 && S_ISREG(info.st_mode) &&
        posix_mode_read_only(info.st_mode)) {
        errno = EACCES; // DeleteFileA refuses read-only files
        return false;
    }
    return unlink(native.text) == 0;
}

bool platform_file_move(const char* from, const char* to) {
    CodepagePath source, target;
    if (!codepage_path(&source, from) || !codepage_path(&target, to)) {
        return false;
    }
    // MoveFileA never replaces: let the kernel refuse an existing target
    // atomically, and check first only where the file system cannot.
    if (renameat2(AT_FDCWD, source.text, AT_FDCWD, target.text, RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    struct stat info;
    if (lstat(target.text, &info) == 0) {
        errno = EEXIST;
        return false;
    }
    return rename(source.text, target.text) == 0;
}

// The folder that holds path, for making a rename in it durable.
static void file_parent_folder(const char* path, char* folder, size_t size) {
    const char* slash = std::strrchr(path, '/');
    if (!slash) {
        std::strcpy(folder, ".");
        return;
    }
    size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
    if (length >= size) {
        length = size - 1;
    }
    std::memcpy(folder, path, length);
    folder[length] = '\0';
}

bool platform_file_replace(const char* from, const char* to) {
    CodepagePath source, target;
    if (!codepage_path(&source, from) || !codepage_path(&target, to)) {
        return false;
    }
    struct stat info;
    if (lstat(target.text, &info) == 0 && S_ISREG(info.st_mode) &&
        posix_mode_read_only(info.st_mode)) {
        errno = EACCES; // MoveFileExA does not replace a read-only file
        return false;
    }
    if (rename(source.text, target.text) != 0) {
        return false;
    }
    // The rename is only durable once the folder's entry is on the device.
    char folder[CODEPAGE_PATH_MAX];
    file_parent_folder(target.text, folder, sizeof folder);
    // Only an I/O error of that sync turns the result into a failure; a folder
    // that cannot be opened or synced at all (some file systems) leaves the
    // rename as the file system keeps it.
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return true;
    }
    int result;
    do {
        result = fsync(fd);
    } while (result != 0 && errno == EINTR);
    bool durable = result == 0 || errno != EIO;
    close(fd);
    return durable;
}

bool platform_file_exists(const char* path) {
    CodepagePath native;
    struct stat info;
    return codepage_path(&native, path) && stat(native.text, &info) == 0;
}

bool platform_path_is_link(const char* path) {
    CodepagePath native;
    struct stat info;
    return codepage_path(&native, path) && lstat(native.text, &info) == 0 && S_ISLNK(info.st_mode);
}

bool platform_path_clear(const char* path) {
    CodepagePath native;
    if (!codepage_path(&native, path)) {
        return false;
    }
    struct stat info;
    if (lstat(native.text, &info) != 0) {
        return errno == ENOENT;
    }
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return false;
    }
    // unlink removes a link itself, never the file it points to.
    return unlink(native.text) == 0 || errno == ENOENT;
}

bool platform_file_commit(PlatformFile file, const char* path, const char* destination,
                          int cleanup_slot, bool durable) {
    // The descriptor stays open across the rename, so that the clean-up of
    // an interruption can still tell the file by it.
    bool moved;
    if (durable) {
        moved = platform_file_replace(path, destination);
    } else {
        CodepagePath source, target;
        moved = codepage_path(&source, path) && codepage_path(&target, destination) &&
                rename(source.text, target.text) == 0;
    }
    platform_interrupt_cleanup_remove(cleanup_slot);
    if (!moved) {
        int why = errno;
        platform_file_discard(file, path);
        errno = why;
        return false;
    }
    platform_file_close(file);
    return true;
}
