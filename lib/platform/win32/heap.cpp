#include <windows.h>

#include "platform/platform.h"

PlatformHeap platform_process_heap() {
    return GetProcessHeap();
}

void* platform_heap_alloc(PlatformHeap heap, size_t size) {
    return HeapAlloc(static_cast<HANDLE>(heap), 0, size);
}

void* platform_heap_realloc(PlatformHeap heap, void* block, size_t size) {
    return HeapReAlloc(static_cast<HANDLE>(heap), 0, block, size);
}

void platform_heap_free(PlatformHeap heap, void* block) {
    HeapFree(static_cast<HANDLE>(heap), 0, block);
}
