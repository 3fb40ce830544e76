#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "codepage.h"
#include "interrupt.h"
#include "platform/platform.h"

// Work files to remove when a signal ends the process. The handler may run
// on any thread at any moment, so the slots are fixed storage filled before
// they are marked in use, and the handler calls only async-signal-safe
// functions (fstatat, fstat, unlinkat).
namespace {

constexpr int CLEANUP_SLOTS = 16;

struct CleanupSlot {
    std::atomic<int> state{0}; // 0 free, 1 being filled, 2 in use
    int fd = -1;
    int folder_fd = AT_FDCWD; // what path is relative to
    char path[CODEPAGE_PATH_MAX];
};

CleanupSlot cleanup_slots[CLEANUP_SLOTS];
std::atomic<bool> cleanup_installed{false};
const int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

void cleanup_remove_files() {
    for (CleanupSlot& slot : cleanup_slots) {
        if (slot.state.load() != 2) {
            continue;
        }
        struct stat held, named;
        if (fstat(slot.fd, &held) == 0 &&
            fstatat(slot.folder_fd, slot.path, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            unlinkat(slot.folder_fd, slot.path, 0);
        }
    }
}

void cleanup_on_signal(int signal_number) {
    cleanup_remove_files();
    // End as the signal would have: the shell sees 128 + its number.
    std::signal(signal_number, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal_number);
}

} // namespace

void platform_interrupt_cleanup_install() {
    if (cleanup_installed.exchange(true)) {
        return;
    }
    for (int signal_number : cleanup_signals) {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = cleanup_on_signal;
        sigfillset(&action.sa_mask); // one handler at a time
        sigaction(signal_number, &action, nullptr);
    }
}

int interrupt_cleanup_add_at(int folder_fd, int fd, const char* name) {
    size_t length = std::strlen(name);
    if (fd < 0 || length >= CODEPAGE_PATH_MAX) {
        return -1;
    }
    for (int i = 0; i < CLEANUP_SLOTS; ++i) {
        int expected = 0;
        if (cleanup_slots[i].state.compare_exchange_strong(expected, 1)) {
            cleanup_slots[i].fd = fd;
            cleanup_slots[i].folder_fd = folder_fd;
            std::memcpy(cleanup_slots[i].path, name, length + 1);
            cleanup_slots[i].state.store(2);
            return i;
        }
    }
    return -1;
}

int platform_interrupt_cleanup_add(PlatformFile file, const char* path) {
    CodepagePath native;
    if (file == PLATFORM_INVALID_FILE || !codepage_path(&native, path)) {
        return -1;
    }
    return interrupt_cleanup_add_at(AT_FDCWD, static_cast<int>(file), native.text);
}

void platform_interrupt_cleanup_remove(int slot) {
    if (slot >= 0 && slot < CLEANUP_SLOTS) {
        cleanup_slots[slot].state.store(0);
    }
}

int interrupt_safe_create_at(int folder_fd, const char* name, int* cleanup_slot) {
    sigset_t all, previous;
    sigfillset(&all);
    if (cleanup_slot) {
        pthread_sigmask(SIG_BLOCK, &all, &previous);
    }
    int fd;
    do {
        fd = openat(folder_fd, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (cleanup_slot) {
        int why = errno;
        *cleanup_slot = fd < 0 ? -1 : interrupt_cleanup_add_at(folder_fd, fd, name);
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        errno = why;
    }
    return fd;
}
