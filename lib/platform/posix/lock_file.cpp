#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "codepage.h"
#include "platform/platform.h"

// The lock is flock() on the folder's own descriptor. A lock file could be
// deleted (or replaced) by anyone who may write the folder, and a second run
// would then lock a new file beside the first; the folder itself cannot be
// taken away from under an open descriptor. A read-only descriptor suffices
// for flock, so taking the lock says nothing about whether the folder may be
// written: the first file the update creates finds that out.

namespace {

void lock_pause() {
    usleep(20 * 1000);
}

// The folder's path without trailing separators: "dir/" would follow a link
// named dir although O_NOFOLLOW is given.
bool folder_path(const char* folder, CodepagePath* native) {
    if (!codepage_path(native, folder && *folder ? folder : ".")) {
        return false;
    }
    size_t length = std::strlen(native->text);
    while (length > 1 && native->text[length - 1] == '/') {
        native->text[--length] = '\0';
    }
    return true;
}

} // namespace

PlatformFile platform_folder_lock_acquire(const char* folder, const char* lock_file,
                                          uint32_t wait_ms, bool* busy) {
    (void)lock_file;
    if (busy) {
        *busy = false;
    }
    CodepagePath native;
    if (!folder_path(folder, &native)) {
        errno = ENAMETOOLONG;
        return PLATFORM_INVALID_FILE;
    }
    int fd = open(native.text, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return PLATFORM_INVALID_FILE;
    }
    int64_t frequency = platform_performance_frequency();
    int64_t deadline = platform_performance_counter() + frequency * wait_ms / 1000;
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return fd;
        }
        int why = errno;
        if (why != EWOULDBLOCK && why != EINTR) {
            close(fd);
            errno = why;
            return PLATFORM_INVALID_FILE;
        }
        if (why == EWOULDBLOCK && platform_performance_counter() >= deadline) {
            close(fd);
            if (busy) {
                *busy = true;
            }
            errno = EWOULDBLOCK;
            return PLATFORM_INVALID_FILE;
        }
        lock_pause();
    }
}

void platform_folder_lock_release(PlatformFile lock) {
    if (lock != PLATFORM_INVALID_FILE) {
        close(static_cast<int>(lock)); // the last descriptor lets the lock go
    }
}
