// Fixed-size blocks from an intrusive free list inside one parent block,
// optionally under a Lock so that several threads may share the pool.
#pragma once

#include "support/memory.h"
#include "support/threads.h"

// Lives at the start of its own parent block; the blocks follow the head area.
struct PoolAllocator {
    Allocator base;   // capacity = block_count x stride, used = stride x blocks_out
    void* free_head;  // first free block; each free block's first word links the next
    uintptr_t stride; // block size rounded up to the alignment
    uintptr_t block_count;
    uintptr_t blocks_out;
    Lock* lock;        // null when the pool is not thread-safe
    Lock lock_storage; // where the lock is built
};

// The pool's head area: 64 bytes on a 32-bit build, wider where pointers
// and the lock record are.
constexpr uint32_t POOL_HEAD_SIZE =
    sizeof(PoolAllocator) <= 64 ? 64 : (sizeof(PoolAllocator) + 15) / 16 * 16;

// alignment: a power of two; above 4 it counts as 4. Returns null when the
// parent has no room, block_count is 0 or the pool would not fit in 32 bits.
// A block size below a pointer's width is raised to it, since a free block
// holds the link to the next one.
PoolAllocator* pool_create(Allocator* parent, uint32_t block_size, uint32_t block_count,
                           uint32_t alignment, int thread_safe);
