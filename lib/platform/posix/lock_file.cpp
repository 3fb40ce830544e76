#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "codepage.h"
#include "interrupt.h"
#include "platform/platform.h"

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
    int cleared = 0;
    for (;;) {
        // Never truncated, never followed, never written to. A link or a
        // FIFO planted under the name is removed (the name is the updater's
        // own) and the lock file made anew.
        int fd = open(native.text, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
        struct stat info;
        if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
            close(fd);
            fd = -1;
            errno = ELOOP;
        }
        if (fd < 0) {
            // Another run may be clearing the same name: a file that is
            // gone or regular by now is simply tried again.
            struct stat named;
            if (errno != ELOOP || ++cleared > 16) {
                return PLATFORM_INVALID_FILE;
            }
            if (lstat(native.text, &named) == 0) {
                if (S_ISDIR(named.st_mode)) {
                    return PLATFORM_INVALID_FILE;
                }
                if (!S_ISREG(named.st_mode) && unlink(native.text) != 0 && errno != ENOENT) {
                    return PLATFORM_INVALID_FILE;
                }
            }
            continue;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (platform_file_is(fd, path)) {
                // An interrupted run leaves no lock file behind either.
                platform_interrupt_cleanup_add(fd, path);
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
    interrupt_cleanup_forget(static_cast<int>(lock));
    CodepagePath native;
    if (platform_file_is(lock, path) && codepage_path(&native, path)) {
        unlink(native.text);
    }
    close(static_cast<int>(lock));
}
