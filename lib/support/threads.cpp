#include "support/threads.h"

#include <atomic>

Lock* lock_init(Lock* lock, uint32_t) {
    lock->object = lock->storage;
    platform_lock_init(lock->object);
    return lock;
}

void lock_delete(Lock* lock) {
    platform_lock_delete(lock->object);
}

void lock_enter(Lock* lock) {
    platform_lock_enter(lock->object);
}

int lock_try_enter(Lock* lock) {
    return platform_lock_try_enter(lock->object) ? 1 : 0;
}

void lock_leave(Lock* lock) {
    platform_lock_leave(lock->object);
}

// Runs on the new thread. The id is the only field this side writes; the
// creating thread filled in the rest before the thread existed.
static unsigned long PLATFORM_THREAD_CALL thread_entry(void* parameter) {
    Thread* thread = static_cast<Thread*>(parameter);
    std::atomic_ref<uint32_t>(thread->id)
        .store(platform_thread_current_id(), std::memory_order_release);
    thread->start(thread->argument);
    return 0;
}

Thread* thread_start(Thread* thread, void*, ThreadStart start, void* argument,
                     uint32_t stack_size) {
    thread->id = 0;
    thread->start = start;
    thread->argument = argument;
    thread->handle = platform_thread_create(stack_size, thread_entry, thread);
    return thread;
}

uint32_t thread_wait(Thread* thread) {
    return platform_thread_wait(thread->handle);
}

int thread_join(Thread* thread) {
    // A thread that never started (or was joined already) has nothing to
    // wait for or close.
    if (!thread->handle)
        return 0;
    platform_thread_wait(thread->handle);
    bool closed = platform_thread_close(thread->handle);
    thread->handle = nullptr;
    return closed ? 1 : 0;
}

static int thread_priority_level(ThreadPriority priority) {
    return priority >= -2 && priority <= 2 ? priority : 0;
}

int thread_set_priority(Thread* thread, ThreadPriority priority) {
    if (!thread->handle)
        return 0;
    return platform_thread_set_priority(thread->handle, thread_priority_level(priority)) ? 1 : 0;
}

ThreadPriority thread_get_priority(Thread* thread) {
    return thread->handle ? platform_thread_get_priority(thread->handle) : 0;
}

uint32_t thread_id(const Thread* thread) {
    return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(thread->id))
        .load(std::memory_order_acquire);
}

void thread_exit(uint32_t code) {
    platform_thread_exit(code);
}

Event* event_create(Event* event) {
    event->handle = platform_event_create();
    return event;
}

int event_destroy(Event* event) {
    if (!event->handle)
        return 0;
    bool closed = platform_event_destroy(event->handle);
    event->handle = nullptr;
    return closed ? 1 : 0;
}

uint32_t event_wait(Event* event) {
    return platform_event_wait(event->handle);
}

int event_signal(Event* event) {
    return platform_event_signal(event->handle) ? 1 : 0;
}

// Whole seconds and the remainder are scaled apart: counter x 1 000 000
// would overflow 64 bits after about eleven days of uptime on a 10 MHz counter.
int64_t time_counter_to_microseconds(int64_t counter, int64_t frequency) {
    if (frequency <= 0)
        return 0;
    return counter / frequency * 1000000 + counter % frequency * 1000000 / frequency;
}

int64_t time_microseconds() {
    int64_t counter = platform_performance_counter();
    return time_counter_to_microseconds(counter, platform_performance_frequency());
}

void sleep_ms(uint32_t milliseconds) {
    platform_sleep_ms(milliseconds);
}
