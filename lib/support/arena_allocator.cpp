#include "support/memory.h"

#include <cstring>

static void* arena_allocate(Allocator* allocator, uint32_t size) {
    ArenaAllocator* arena = reinterpret_cast<ArenaAllocator*>(allocator);
    if (allocator->capacity - allocator->used < size) {
        return nullptr;
    }
    void* block = arena->arena_base + allocator->used;
    allocator->used += size;
    return block;
}

// Never reclaims the old block: the arena only grows until its buffer is
// discarded.
static void* arena_reallocate(Allocator* allocator, void* block, uint32_t old_size,
                              uint32_t new_size) {
    if (!block) {
        return nullptr;
    }
    void* moved = arena_allocate(allocator, new_size);
    if (moved) {
        std::memcpy(moved, block, old_size < new_size ? old_size : new_size);
    }
    return moved;
}

static void arena_free(Allocator*, void*, uint32_t) {}

static const AllocatorOps arena_ops = {
    .destroy = nullptr,
    .allocate = arena_allocate,
    .reallocate = arena_reallocate,
    .free = arena_free,
};

ArenaAllocator* arena_init(void* buffer, uint32_t size) {
    if (!buffer || size < ARENA_HEAD_SIZE) {
        return nullptr;
    }
    ArenaAllocator* arena = static_cast<ArenaAllocator*>(buffer);
    arena->base.ops = &arena_ops;
    arena->base.capacity = size - ARENA_HEAD_SIZE;
    arena->base.used = 0;
    arena->arena_base = static_cast<unsigned char*>(buffer) + ARENA_HEAD_SIZE;
    arena->buffer_size = size;
    return arena;
}
