// Allocators: every library object and the buffers it owns come from an
// Allocator and go back through mem_free, which finds the owner in the
// BlockHeader stored in front of each block.
#pragma once

#include <cstddef>
#include <cstdint>

struct Allocator;

// Operation table of an allocator kind, in fixed slot order.
struct AllocatorOps {
    void (*destroy)(Allocator* allocator); // null for the heap and the arena
    void* (*allocate)(Allocator* allocator, uint32_t size);
    void* (*reallocate)(Allocator* allocator, void* block, uint32_t old_size, uint32_t new_size);
    void (*free)(Allocator* allocator, void* block, uint32_t size);
};

// Common head of every allocator record.
struct Allocator {
    const AllocatorOps* ops;
    uint32_t capacity; // bytes the allocator can hand out; 0 = unbounded
    uint32_t used;     // bytes currently handed out
};

// Three pointer-wide words in front of every block mem_alloc returns.
struct BlockHeader {
    Allocator* owner;
    uintptr_t total;  // bytes requested from owner: size + alignment + header
    uintptr_t offset; // distance from the underlying block to the pointer
};
constexpr uint32_t BLOCK_HEADER_SIZE = sizeof(BlockHeader);

// The process heap. One static instance.
struct HeapAllocator {
    Allocator base;
};

// Bump allocator living at the start of a caller-supplied buffer.
struct ArenaAllocator {
    Allocator base;
    unsigned char* arena_base; // first byte after the head
    uintptr_t buffer_size;     // the whole buffer
};
constexpr uint32_t ARENA_HEAD_SIZE = sizeof(ArenaAllocator);

// alignment: 0 for none, else a power of two (anything else yields null).
// Null allocator: the heap. Null when size, alignment and header together
// do not fit in 32 bits.
void* mem_alloc(Allocator* allocator, uint32_t size, uint32_t alignment);
// A null block is ignored.
void mem_free(void* block);
// Null block: a fresh heap block. Null result: the old block stays valid;
// a block that alignment placed further into its underlying block cannot
// be reallocated (its data would shift) and gives null.
void* mem_realloc(void* block, uint32_t new_size);
Allocator* mem_owner(const void* block);
Allocator* mem_default_allocator();
void allocator_destroy(Allocator* allocator);
// The buffer must be pointer-aligned; null when it cannot hold the head.
ArenaAllocator* arena_init(void* buffer, uint32_t size);
