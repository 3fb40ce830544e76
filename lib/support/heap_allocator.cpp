#include "platform/platform.h"
#include "support/memory.h"

// Fetched on the first allocation, then reused for the life of the process.
static PlatformHeap heap_handle;

// The process heap serialises itself, and the builder's worker threads
// allocate at the same time, so the handle and the byte count are touched
// atomically to keep the count exact.
static PlatformHeap current_heap() {
    PlatformHeap heap = __atomic_load_n(&heap_handle, __ATOMIC_ACQUIRE);
    if (!heap) {
        heap = platform_process_heap();
        __atomic_store_n(&heap_handle, heap, __ATOMIC_RELEASE);
    }
    return heap;
}

static void add_used(Allocator* allocator, uint32_t delta) {
    __atomic_fetch_add(&allocator->used, delta, __ATOMIC_RELAXED);
}

static void* heap_allocate(Allocator* allocator, uint32_t size) {
    void* block = platform_heap_alloc(current_heap(), size);
    if (block) {
        add_used(allocator, size);
    }
    return block;
}

static void* heap_reallocate(Allocator* allocator, void* block, uint32_t old_size,
                             uint32_t new_size) {
    if (!block) {
        return nullptr;
    }
    void* moved = platform_heap_realloc(current_heap(), block, new_size);
    if (moved) {
        add_used(allocator, new_size - old_size);
    }
    return moved;
}

static void heap_free(Allocator* allocator, void* block, uint32_t size) {
    add_used(allocator, 0u - size);
    platform_heap_free(current_heap(), block);
}

static const AllocatorOps heap_ops = {
    .destroy = nullptr,
    .allocate = heap_allocate,
    .reallocate = heap_reallocate,
    .free = heap_free,
};

static HeapAllocator heap_instance = {{&heap_ops, 0, 0}};

Allocator* mem_default_allocator() {
    return &heap_instance.base;
}
