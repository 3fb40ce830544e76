#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <new>

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/platform.h"

static_assert(sizeof(pthread_mutex_t) <= PLATFORM_LOCK_STORAGE, "lock storage too small");
static_assert(alignof(pthread_mutex_t) <= alignof(void*), "lock storage misaligned");

// --- locks: a recursive mutex, re-entrant like a critical section ----------

void platform_lock_init(void* storage) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(new (storage) pthread_mutex_t, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void platform_lock_delete(void* storage) {
    pthread_mutex_destroy(static_cast<pthread_mutex_t*>(storage));
}

void platform_lock_enter(void* storage) {
    pthread_mutex_lock(static_cast<pthread_mutex_t*>(storage));
}

bool platform_lock_try_enter(void* storage) {
    return pthread_mutex_trylock(static_cast<pthread_mutex_t*>(storage)) == 0;
}

void platform_lock_leave(void* storage) {
    pthread_mutex_unlock(static_cast<pthread_mutex_t*>(storage));
}

// --- threads ------------------------------------------------------------------
// A thread handle must be waitable any number of times and closable while
// the thread still runs, as a Win32 handle is; pthread_join allows neither.
// So threads run detached and report their end through this record, which
// the handle and the running thread share and the last of them frees.

struct PosixThread {
    pthread_t thread;
    PlatformThreadEntry entry;
    void* argument;
    pthread_mutex_t mutex;
    pthread_cond_t ended_signal;
    bool ended;
    int references; // the handle and, until it ends, the thread
    int level;      // priority level as last set, -2..2
    int base_nice;  // nice value of the creating thread: the "normal" level
    long tid;       // kernel thread id while running, else 0
};

static void posix_thread_release(PosixThread* record) {
    // Called with the mutex held; unlocks it.
    bool last = --record->references == 0;
    pthread_mutex_unlock(&record->mutex);
    if (last) {
        pthread_cond_destroy(&record->ended_signal);
        pthread_mutex_destroy(&record->mutex);
        delete record;
    }
}

// Windows levels are steps of the scheduler's priority; nice values step by
// five per level here, lower meaning more favoured.
static void posix_thread_apply_level(PosixThread* record) {
#if defined(__linux__)
    if (record->tid == 0)
        return;
    int nice = record->base_nice - record->level * 5;
    nice = nice < -20 ? -20 : nice > 19 ? 19 : nice;
    // Raising priority needs privileges most processes lack; the level is
    // kept regardless, as Windows would keep it.
    setpriority(PRIO_PROCESS, static_cast<id_t>(record->tid), nice);
#else
    (void)record;
#endif
}

static void posix_thread_finish(void* parameter) {
    PosixThread* record = static_cast<PosixThread*>(parameter);
    pthread_mutex_lock(&record->mutex);
    record->ended = true;
    record->tid = 0;
    pthread_cond_broadcast(&record->ended_signal);
    posix_thread_release(record);
}

static void* posix_thread_main(void* parameter) {
    PosixThread* record = static_cast<PosixThread*>(parameter);
    pthread_mutex_lock(&record->mutex);
    record->tid = static_cast<long>(platform_thread_current_id());
    if (record->level != 0)
        posix_thread_apply_level(record);
    pthread_mutex_unlock(&record->mutex);
    // The cleanup handler also runs when the thread leaves by
    // platform_thread_exit, so waiters always learn of the end.
    pthread_cleanup_push(posix_thread_finish, record);
    record->entry(record->argument);
    pthread_cleanup_pop(1);
    return nullptr;
}

PlatformThread platform_thread_create(uint32_t stack_size, PlatformThreadEntry entry,
                                      void* argument) {
    PosixThread* record = new (std::nothrow) PosixThread{};
    if (!record)
        return nullptr;
    record->entry = entry;
    record->argument = argument;
    record->references = 2;
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, 0);
    record->base_nice = errno == 0 ? nice : 0;
    pthread_mutex_init(&record->mutex, nullptr);
    pthread_cond_init(&record->ended_signal, nullptr);

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stack_size != 0) {
        // Rounded up as CreateThread rounds; a too small request gets the minimum.
        size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        size_t size = (stack_size + page - 1) / page * page;
        if (size < static_cast<size_t>(PTHREAD_STACK_MIN))
            size = static_cast<size_t>(PTHREAD_STACK_MIN);
        pthread_attr_setstacksize(&attributes, size);
    }
    int failed = pthread_create(&record->thread, &attributes, posix_thread_main, record);
    pthread_attr_destroy(&attributes);
    if (failed) {
        pthread_cond_destroy(&record->ended_signal);
        pthread_mutex_destroy(&record->mutex);
        delete record;
        return nullptr;
    }
    return record;
}

uint32_t platform_thread_wait(PlatformThread thread) {
    if (!thread)
        return PLATFORM_WAIT_FAILED;
    PosixThread* record = static_cast<PosixThread*>(thread);
    pthread_mutex_lock(&record->mutex);
    while (!record->ended)
        pthread_cond_wait(&record->ended_signal, &record->mutex);
    pthread_mutex_unlock(&record->mutex);
    return 0;
}

bool platform_thread_close(PlatformThread thread) {
    if (!thread)
        return false;
    PosixThread* record = static_cast<PosixThread*>(thread);
    pthread_mutex_lock(&record->mutex);
    posix_thread_release(record);
    return true;
}

bool platform_thread_set_priority(PlatformThread thread, int level) {
    if (!thread)
        return false;
    PosixThread* record = static_cast<PosixThread*>(thread);
    pthread_mutex_lock(&record->mutex);
    record->level = level >= -2 && level <= 2 ? level : 0;
    posix_thread_apply_level(record);
    pthread_mutex_unlock(&record->mutex);
    return true;
}

int platform_thread_get_priority(PlatformThread thread) {
    if (!thread)
        return 0;
    PosixThread* record = static_cast<PosixThread*>(thread);
    pthread_mutex_lock(&record->mutex);
    int level = record->level;
    pthread_mutex_unlock(&record->mutex);
    return level;
}

void platform_thread_exit(uint32_t) {
    pthread_exit(nullptr);
}

uint32_t platform_thread_current_id() {
#if defined(__linux__)
    return static_cast<uint32_t>(syscall(SYS_gettid));
#else
    static_assert(sizeof(pthread_t) >= sizeof(uint32_t));
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pthread_self())) | 1u;
#endif
}

// --- events: auto-reset, as CreateEventA(.., FALSE, FALSE, ..) ----------------
// A signal with a waiter present hands that waiter a release of its own;
// with none it sets the flag, which one later wait consumes. Signalling a set
// flag changes nothing, as SetEvent on a signalled event does.

struct PosixEvent {
    pthread_mutex_t mutex;
    pthread_cond_t released;
    bool signalled;
    unsigned waiters;  // threads inside platform_event_wait
    unsigned releases; // signals granted to waiters and not yet taken
};

PlatformEvent platform_event_create() {
    PosixEvent* event = new (std::nothrow) PosixEvent{};
    if (!event)
        return nullptr;
    pthread_mutex_init(&event->mutex, nullptr);
    pthread_cond_init(&event->released, nullptr);
    return event;
}

bool platform_event_destroy(PlatformEvent handle) {
    if (!handle)
        return false;
    PosixEvent* event = static_cast<PosixEvent*>(handle);
    pthread_cond_destroy(&event->released);
    pthread_mutex_destroy(&event->mutex);
    delete event;
    return true;
}

uint32_t platform_event_wait(PlatformEvent handle) {
    if (!handle)
        return PLATFORM_WAIT_FAILED;
    PosixEvent* event = static_cast<PosixEvent*>(handle);
    pthread_mutex_lock(&event->mutex);
    if (event->signalled) {
        event->signalled = false;
    } else {
        ++event->waiters;
        while (event->releases == 0)
            pthread_cond_wait(&event->released, &event->mutex);
        --event->releases;
        --event->waiters;
    }
    pthread_mutex_unlock(&event->mutex);
    return 0;
}

bool platform_event_signal(PlatformEvent handle) {
    if (!handle)
        return false;
    PosixEvent* event = static_cast<PosixEvent*>(handle);
    pthread_mutex_lock(&event->mutex);
    if (event->waiters > event->releases) {
        ++event->releases;
        pthread_cond_signal(&event->released);
    } else {
        event->signalled = true;
    }
    pthread_mutex_unlock(&event->mutex);
    return true;
}

// --- clock and sleep ------------------------------------------------------------

int64_t platform_performance_counter() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t platform_performance_frequency() {
    return 1000000000;
}

void platform_sleep_ms(uint32_t milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
