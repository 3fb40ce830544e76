#include <windows.h>

#include "platform/platform.h"

static_assert(sizeof(CRITICAL_SECTION) <= PLATFORM_LOCK_STORAGE, "lock storage too small");
static_assert(alignof(CRITICAL_SECTION) <= alignof(void*), "lock storage misaligned");

void platform_lock_init(void* storage) {
    InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(storage));
}

void platform_lock_delete(void* storage) {
    DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(storage));
}

void platform_lock_enter(void* storage) {
    EnterCriticalSection(static_cast<CRITICAL_SECTION*>(storage));
}

bool platform_lock_try_enter(void* storage) {
    return TryEnterCriticalSection(static_cast<CRITICAL_SECTION*>(storage)) != 0;
}

void platform_lock_leave(void* storage) {
    LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(storage));
}

PlatformThread platform_thread_create(uint32_t stack_size, PlatformThreadEntry entry,
                                      void* argument) {
    return CreateThread(nullptr, stack_size, entry, argument, 0, nullptr);
}

uint32_t platform_thread_wait(PlatformThread thread) {
    if (!thread)
        return PLATFORM_WAIT_FAILED;
    return WaitForSingleObject(thread, INFINITE);
}

bool platform_thread_close(PlatformThread thread) {
    return thread && CloseHandle(thread) != 0;
}

bool platform_thread_set_priority(PlatformThread thread, int level) {
    return thread && SetThreadPriority(thread, level) != 0;
}

int platform_thread_get_priority(PlatformThread thread) {
    int level = thread ? GetThreadPriority(thread) : THREAD_PRIORITY_ERROR_RETURN;
    return level == THREAD_PRIORITY_ERROR_RETURN ? 0 : level;
}

void platform_thread_exit(uint32_t code) {
    ExitThread(code);
}

uint32_t platform_thread_current_id() {
    return GetCurrentThreadId();
}

PlatformEvent platform_event_create() {
    return CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

bool platform_event_destroy(PlatformEvent event) {
    return event && CloseHandle(event) != 0;
}

uint32_t platform_event_wait(PlatformEvent event) {
    if (!event)
        return PLATFORM_WAIT_FAILED;
    return WaitForSingleObject(event, INFINITE);
}

bool platform_event_signal(PlatformEvent event) {
    return event && SetEvent(event) != 0;
}

int64_t platform_performance_counter() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

int64_t platform_performance_frequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

void platform_sleep_ms(uint32_t milliseconds) {
    Sleep(milliseconds);
}
