// Re-entrant locks, threads, auto-reset events and a microsecond clock: a thin
// layer over the operating system's threading services. Records belong to the
// caller; nothing here allocates.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Pointer-aligned rather than 8-aligned so that the record stays 32 bytes on
// a 32-bit build, which is what the pool's head area reserves for it.
struct Lock {
    void* object; // points at storage once initialised
    alignas(void*) unsigned char storage[PLATFORM_LOCK_STORAGE];
};

typedef void (*ThreadStart)(void* argument);

struct Thread {
    PlatformThread handle; // null when the thread could not be created or was joined
    ThreadStart start;
    void* argument;
    uint32_t id; // 0 until the thread runs; written once by the new thread
};

struct Event {
    PlatformEvent handle;
};

// -2 lowest, -1 below normal, 0 normal, 1 above normal, 2 highest; any other
// value means normal.
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
ThreadPriority thread_get_priority(Thread* thread);
// The id the new thread stored, read safely while it may still be starting.
uint32_t thread_id(const Thread* thread);
[[noreturn]] void thread_exit(uint32_t code);

Event* event_create(Event* event);
int event_destroy(Event* event);
uint32_t event_wait(Event* event);
int event_signal(Event* event);

int64_t time_microseconds();
// counter / frequency in microseconds, exact for any counter a machine reaches.
int64_t time_counter_to_microseconds(int64_t counter, int64_t frequency);
void sleep_ms(uint32_t milliseconds);
