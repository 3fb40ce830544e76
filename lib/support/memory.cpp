#include "support/memory.h"

#include <cstring>

// The header may sit at any byte offset (arena blocks are packed back to
// back without alignment), so it is copied rather than accessed in place.
static BlockHeader block_header_get(const void* p) {
    BlockHeader header;
    std::memcpy(&header, static_cast<const unsigned char*>(p) - BLOCK_HEADER_SIZE, sizeof header);
    return header;
}

static void* block_header_put(void* block, uintptr_t offset, Allocator* owner, uintptr_t total) {
    unsigned char* p = static_cast<unsigned char*>(block) + offset;
    BlockHeader header{owner, total, offset};
    std::memcpy(p - BLOCK_HEADER_SIZE, &header, sizeof header);
    return p;
}

// Sizes are 32-bit: a request whose total with header and alignment does
// not fit must fail instead of wrapping into a too-small block.
static bool mem_total(uint32_t size, uint32_t extra, uint32_t* total) {
    uint64_t sum = uint64_t(size) + extra + BLOCK_HEADER_SIZE;
    if (sum > UINT32_MAX) {
        return false;
    }
    *total = uint32_t(sum);
    return true;
}

void* mem_alloc(Allocator* allocator, uint32_t size, uint32_t alignment) {
    if (!allocator) {
        allocator = mem_default_allocator();
    }
    if (alignment & (alignment - 1)) {
        return nullptr;
    }
    uint32_t total;
    if (!mem_total(size, alignment, &total) || !allocator->ops->allocate) {
        return nullptr;
    }
    void* block = allocator->ops->allocate(allocator, total);
    if (!block) {
        return nullptr;
    }
    uintptr_t start = reinterpret_cast<uintptr_t>(block);
    uintptr_t p = start + BLOCK_HEADER_SIZE;
    if (alignment) {
        p = (p + alignment - 1) & ~uintptr_t(alignment - 1);
    }
    return block_header_put(block, p - start, allocator, total);
}

void mem_free(void* p) {
    if (!p) {
        return;
    }
    BlockHeader header = block_header_get(p);
    void* block = static_cast<unsigned char*>(p) - header.offset;
    header.owner->ops->free(header.owner, block, uint32_t(header.total));
}

void* mem_realloc(void* p, uint32_t new_size) {
    uint32_t total;
    if (!mem_total(new_size, 0, &total)) {
        return nullptr;
    }
    if (!p) {
        Allocator* heap = mem_default_allocator();
        void* block = heap->ops->allocate(heap, total);
        return block ? block_header_put(block, BLOCK_HEADER_SIZE, heap, total) : nullptr;
    }
    BlockHeader header = block_header_get(p);
    // An aligned block cannot be moved without knowing its alignment; the
    // data would shift by the alignment padding. Refusing keeps it valid.
    if (header.offset != BLOCK_HEADER_SIZE || !header.owner->ops->reallocate) {
        return nullptr;
    }
    void* block =
        header.owner->ops->reallocate(header.owner, static_cast<unsigned char*>(p) - header.offset,
                                      uint32_t(header.total), total);
    return block ? block_header_put(block, BLOCK_HEADER_SIZE, header.owner, total) : nullptr;
}

Allocator* mem_owner(const void* p) {
    return block_header_get(p).owner;
}

void allocator_destroy(Allocator* allocator) {
    if (allocator && allocator->ops->destroy) {
        allocator->ops->destroy(allocator);
    }
}
