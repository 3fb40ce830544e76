#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/codepage.h"

// The lock is flock() on the lock file. Whoever releases it removes the
// file first, so a process that opened the old file and then got its lock
// finds the name gone (or naming a newer file) and starts over.

static void lock_pause() {
    usleep(20 * 1000);
}

PlatformFile platform_lock_file_acquire(const char* path, uint32_t wait_ms, bool* busy) {
    if (busy) {
        *busy = false;
    }
    CodepagePath native;
    if (!codepage_path(&native, path)) {
        return PLATFORM_INVALID_FILE;
    }
    int64_t frequency = platform_performance_frequency();
    int64_t deadline = platform_performance_counter() + frequency * wait_ms / 1000;
    for (;;) {
        // Never truncated, never followed: a link planted under the name is
        // refused, and the file itself is not written to.
        int fd = open(native.text, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
        if (fd < 0) {
            return PLATFORM_INVALID_FILE;
        }
        struct stat info;
        if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            close(fd);
            return PLATFORM_INVALID_FILE;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (platform_file_is(fd, path)) {
                return fd;
            }
            close(fd); // released and removed meanwhile: take the new one
            continue;
        }
        int why = errno;
        close(fd);
        if (why != EWOULDBLOCK && why != EINTR) {
            return PLATFORM_INVALID_FILE;
        }
        if (platform_performance_counter() >= deadline) {
            if (busy) {
                *busy = true;
            }
            return PLATFORM_INVALID_FILE;
        }
        lock_pause();
    }
}

void platform_lock_file_release(PlatformFile lock, const char* path) {
    if (lock == PLATFORM_INVALID_FILE) {
        return;
    }
    CodepagePath native;
    if (platform_file_is(lock, path) && codepage_path(&native, path)) {
        unlink(native.text);
    }
    close(static_cast<int>(lock));
}
