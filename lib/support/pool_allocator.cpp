#include "support/pool_allocator.h"

#include <cstring>

static_assert(sizeof(void*) != 4 || POOL_HEAD_SIZE == 64,
              "a 32-bit build keeps the pool head at 64 bytes");

// Free blocks may sit at 1- or 2-byte alignment; the link is copied bytewise.
static void* pool_link(void* block) {
    void* next;
    std::memcpy(&next, block, sizeof next);
    return next;
}

static void pool_set_link(void* block, void* next) {
    std::memcpy(block, &next, sizeof next);
}

static void pool_lock(PoolAllocator* pool) {
    if (pool->lock)
        lock_enter(pool->lock);
}

static void pool_unlock(PoolAllocator* pool) {
    if (pool->lock)
        lock_leave(pool->lock);
}

static void pool_destroy(Allocator* allocator) {
    PoolAllocator* pool = reinterpret_cast<PoolAllocator*>(allocator);
    if (pool->lock)
        lock_delete(pool->lock);
    mem_free(pool);
}

static void* pool_allocate(Allocator* allocator, uint32_t size) {
    PoolAllocator* pool = reinterpret_cast<PoolAllocator*>(allocator);
    pool_lock(pool);
    void* block = nullptr;
    if (size <= pool->stride && pool->free_head) {
        block = pool->free_head;
        pool->free_head = pool_link(block);
        pool->blocks_out += 1;
        pool->base.used += static_cast<uint32_t>(pool->stride);
    }
    pool_unlock(pool);
    return block;
}

// Blocks never move: a size that still fits keeps the block, any other fails.
static void* pool_reallocate(Allocator* allocator, void* block, uint32_t, uint32_t new_size) {
    PoolAllocator* pool = reinterpret_cast<PoolAllocator*>(allocator);
    pool_lock(pool);
    void* result = new_size <= pool->stride ? block : nullptr;
    pool_unlock(pool);
    return result;
}

// Last freed, first reused: the block goes to the front of the list.
static void pool_free(Allocator* allocator, void* block, uint32_t) {
    PoolAllocator* pool = reinterpret_cast<PoolAllocator*>(allocator);
    pool_lock(pool);
    pool_set_link(block, pool->free_head);
    pool->free_head = block;
    pool->blocks_out -= 1;
    pool->base.used -= static_cast<uint32_t>(pool->stride);
    pool_unlock(pool);
}

static const AllocatorOps pool_ops = {
    .destroy = pool_destroy,
    .allocate = pool_allocate,
    .reallocate = pool_reallocate,
    .free = pool_free,
};

// In 64 bits so that a block size near 4 GiB cannot wrap round to a small stride.
static uint64_t pool_round_up(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

PoolAllocator* pool_create(Allocator* parent, uint32_t block_size, uint32_t block_count,
                           uint32_t alignment, int thread_safe) {
    if (alignment > 4)
        alignment = 4;
    if (alignment == 0)
        alignment = 1;
    if (block_count == 0)
        return nullptr;
    // A free block holds its link; a smaller stride would let the links
    // overwrite the next block.
    uint64_t stride = pool_round_up(block_size, alignment);
    if (stride < sizeof(void*))
        stride = pool_round_up(sizeof(void*), alignment);

    // The whole pool, plus mem_alloc's header, has to fit a 32-bit size.
    uint64_t capacity = block_count * stride;
    uint64_t total = capacity + alignment + POOL_HEAD_SIZE;
    if (total > UINT32_MAX - BLOCK_HEADER_SIZE)
        return nullptr;

    PoolAllocator* pool =
        static_cast<PoolAllocator*>(mem_alloc(parent, static_cast<uint32_t>(total), 0));
    if (!pool)
        return nullptr;
    std::memset(pool, 0, POOL_HEAD_SIZE);

    uintptr_t step = static_cast<uintptr_t>(stride);
    unsigned char* first = reinterpret_cast<unsigned char*>(static_cast<uintptr_t>(
        pool_round_up(reinterpret_cast<uintptr_t>(pool) + POOL_HEAD_SIZE, alignment)));
    for (uint32_t i = 0; i + 1 < block_count; ++i)
        pool_set_link(first + i * step, first + (i + 1) * step);
    pool_set_link(first + (block_count - 1) * step, nullptr);
    pool->free_head = first;

    pool->stride = step;
    pool->block_count = block_count;
    if (thread_safe)
        pool->lock = lock_init(&pool->lock_storage, sizeof pool->lock_storage.storage);

    pool->base.capacity = static_cast<uint32_t>(capacity);
    pool->base.used = 0;
    pool->base.ops = &pool_ops;
    return pool;
}
