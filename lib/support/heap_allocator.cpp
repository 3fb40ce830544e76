#include "platform/platform.h"
#include "support/memory.h"

// Fetched on the first allocation, then reused for the life of the process.
static PlatformHeap heap_handle;

static void* heap_allocate(Allocator* allocator, uint32_t size) {
    if (!heap_handle) {
        heap_handle = platform_process_heap();
    }
    void* block = platform_heap_alloc(heap_handle, size);
    if (block) {
        allocator->used += size;
    }
    return block;
}

static void* heap_reallocate(Allocator* allocator, void* block, uint32_t old_size,
                             uint32_t new_size) {
    if (!block) {
        return nullptr;
    }
    void* moved = platform_heap_realloc(heap_handle, block, new_size);
    if (moved) {
        allocator->used += new_size - old_size;
    }
    return moved;
}

static void heap_free(Allocator* allocator, void* block, uint32_t size) {
    allocator->used -= size;
    platform_heap_free(heap_handle, block);
}

static const AllocatorOps heap_ops = {nullptr, heap_allocate, heap_reallocate, heap_free};

static HeapAllocator heap_instance = {{&heap_ops, 0, 0}};

Allocator* mem_default_allocator() {
    return &heap_instance.base;
}
