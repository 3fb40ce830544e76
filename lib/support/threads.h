// Re-entrant locks, threads, auto-reset events and a microsecond clock: a thin
// layer over the operating system's threading services. Records belong to the
// caller; nothing here allocates.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct Lock {
    void* object; // points at storage once initialised
    alignas(8) unsigned char storage[PLATFORM_LOCK_STORAGE];
};

typedef void (*ThreadStart)(void* argument);

struct Thread {
    PlatformThread handle;
    ThreadStart start;
    void* argument;
    volatile uint32_t id; // 0 until the thread runs
};

struct Event {
    PlatformEvent handle;
};

// -2 lowest, -1 below normal, 0 normal, 1 above normal, 2 highest.
typedef int ThreadPriority;

Lock* lock_init(Lock* lock, uint32_t size);
void lock_delete(Lock* lock);
void lock_enter(Lock* lock);
int lock_try_enter(Lock* lock);
void lock_leave(Lock* lock);

Thread* thread_start(Thread* thread, void* unused, ThreadStart start, void* argument,
                     uint32_t stack_size);
uint32_t thread_wait(Thread* thread);
int thread_join(Thread* thread);
int thread_set_priority(Thread* thread, ThreadPriority priority);
[[noreturn]] void thread_exit(uint32_t code);

Event* event_create(Event* event);
int event_destroy(Event* event);
uint32_t event_wait(Event* event);
int event_signal(Event* event);

int64_t time_microseconds();
void sleep_ms(uint32_t milliseconds);
