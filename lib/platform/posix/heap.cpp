#include <cstdlib>

#include "platform/platform.h"

// The C heap stands in for the process heap; any non-null value serves as
// its handle.
PlatformHeap platform_process_heap() {
    static int heap_token;
    return &heap_token;
}

void* platform_heap_alloc(PlatformHeap, size_t size) {
    return std::malloc(size ? size : 1);
}

void* platform_heap_realloc(PlatformHeap, void* block, size_t size) {
    return std::realloc(block, size ? size : 1);
}

void platform_heap_free(PlatformHeap, void* block) {
    std::free(block);
}
