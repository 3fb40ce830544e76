// Fixed-size blocks from an intrusive free list inside one parent block,
// optionally under a Lock so that several threads may share the pool.
#pragma once

#include "support/memory.h"
#include "support/threads.h"

struct PoolAllocator {
    Allocator base;
    void* free_head;
    uintptr_t stride;
    uintptr_t block_count;
    uintptr_t blocks_out;
    Lock* lock;          // null when the pool is not thread-safe
    Lock lock_storage;   // where the lock is built
};

// The pool's head area: 64 bytes on a 32-bit build, wider where pointers
// and the lock record are.
constexpr uint32_t POOL_HEAD_SIZE = sizeof(PoolAllocator) <= 64 ? 64 : (sizeof(PoolAllocator) + 15) / 16 * 16;

PoolAllocator* pool_create(Allocator* parent, uint32_t block_size, uint32_t block_count,
                           uint32_t alignment, int thread_safe);
