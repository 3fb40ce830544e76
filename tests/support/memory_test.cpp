#include <gtest/gtest.h>

#include <cstring>

#include "support/memory.h"

namespace {

BlockHeader header_of(const void* p) {
    BlockHeader header;
    std::memcpy(&header, static_cast<const unsigned char*>(p) - BLOCK_HEADER_SIZE, sizeof header);
    return header;
}

// Pointer-aligned room for an arena head and its blocks.
struct ArenaBuffer {
    alignas(alignof(std::max_align_t)) unsigned char bytes[ARENA_HEAD_SIZE + 512];
};

} // namespace

TEST(Memory, HeapBlocksCarryTheirOwnerAndAccounting) {
    Allocator* heap = mem_default_allocator();
    uint32_t before = heap->used;

    unsigned char* p = static_cast<unsigned char*>(mem_alloc(nullptr, 100, 0));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(heap->used, before + 100 + BLOCK_HEADER_SIZE);
    EXPECT_EQ(mem_owner(p), heap);
    BlockHeader header = header_of(p);
    EXPECT_EQ(header.total, 100 + BLOCK_HEADER_SIZE);
    EXPECT_EQ(header.offset, BLOCK_HEADER_SIZE);
    std::memset(p, 0xAB, 100); // the whole requested size is usable
    mem_free(p);
    EXPECT_EQ(heap->used, before);

    EXPECT_EQ(sizeof(BlockHeader), 3 * sizeof(void*));
    mem_free(nullptr);
    EXPECT_EQ(heap->used, before);
}

TEST(Memory, AlignedAllocation) {
    Allocator* heap = mem_default_allocator();
    uint32_t before = heap->used;
    for (uint32_t alignment : {16u, 64u, 4096u}) {
        void* p = mem_alloc(nullptr, 10, alignment);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignment, 0u);
        BlockHeader header = header_of(p);
        EXPECT_EQ(header.total, 10 + alignment + BLOCK_HEADER_SIZE);
        EXPECT_GE(header.offset, BLOCK_HEADER_SIZE);
        EXPECT_LE(header.offset, BLOCK_HEADER_SIZE + alignment - 1);
        EXPECT_EQ(heap->used, before + header.total);
        mem_free(p);
        EXPECT_EQ(heap->used, before);
    }
    EXPECT_EQ(mem_alloc(nullptr, 10, 24), nullptr); // not a power of two
}

TEST(Memory, SizesThatOverflow32BitsAreRefused) {
    Allocator* heap = mem_default_allocator();
    uint32_t before = heap->used;
    EXPECT_EQ(mem_alloc(nullptr, UINT32_MAX, 0), nullptr);
    EXPECT_EQ(mem_alloc(nullptr, UINT32_MAX - BLOCK_HEADER_SIZE + 1, 0), nullptr);
    EXPECT_EQ(mem_alloc(nullptr, UINT32_MAX - BLOCK_HEADER_SIZE - 8, 16), nullptr);
    EXPECT_EQ(mem_realloc(nullptr, UINT32_MAX - 2), nullptr);

    // In an arena the wrapped total would otherwise be a tiny block.
    ArenaBuffer buffer;
    ArenaAllocator* arena = arena_init(buffer.bytes, sizeof buffer.bytes);
    ASSERT_NE(arena, nullptr);
    EXPECT_EQ(mem_alloc(&arena->base, UINT32_MAX - 3, 0), nullptr);
    EXPECT_EQ(arena->base.used, 0u);

    void* p = mem_alloc(nullptr, 8, 0);
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "12345678", 8);
    EXPECT_EQ(mem_realloc(p, UINT32_MAX), nullptr);
    EXPECT_EQ(std::memcmp(p, "12345678", 8), 0); // still valid
    mem_free(p);
    EXPECT_EQ(heap->used, before);
}

TEST(Memory, Reallocation) {
    Allocator* heap = mem_default_allocator();
    uint32_t before = heap->used;

    char* p = static_cast<char*>(mem_realloc(nullptr, 6));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(mem_owner(p), heap);
    EXPECT_EQ(header_of(p).offset, BLOCK_HEADER_SIZE);
    EXPECT_EQ(heap->used, before + 6 + BLOCK_HEADER_SIZE);
    std::memcpy(p, "hello", 6);

    p = static_cast<char*>(mem_realloc(p, 5000));
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "hello");
    EXPECT_EQ(header_of(p).total, 5000 + BLOCK_HEADER_SIZE);
    EXPECT_EQ(heap->used, before + 5000 + BLOCK_HEADER_SIZE);
    p = static_cast<char*>(mem_realloc(p, 3));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::memcmp(p, "hel", 3), 0);
    EXPECT_EQ(heap->used, before + 3 + BLOCK_HEADER_SIZE);
    mem_free(p);
    EXPECT_EQ(heap->used, before);

    // Moving an aligned block would shift its contents: refused, block kept.
    unsigned char* aligned = static_cast<unsigned char*>(mem_alloc(nullptr, 32, 4096));
    ASSERT_NE(aligned, nullptr);
    if (header_of(aligned).offset != BLOCK_HEADER_SIZE) {
        aligned[0] = 7;
        EXPECT_EQ(mem_realloc(aligned, 64), nullptr);
        EXPECT_EQ(aligned[0], 7);
    }
    mem_free(aligned);
    EXPECT_EQ(heap->used, before);
}

TEST(Memory, ArenaLimits) {
    ArenaBuffer buffer;
    EXPECT_EQ(arena_init(buffer.bytes, ARENA_HEAD_SIZE - 1), nullptr);
    EXPECT_EQ(arena_init(nullptr, 1000), nullptr);

    ArenaAllocator* empty = arena_init(buffer.bytes, ARENA_HEAD_SIZE);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->base.capacity, 0u);
    EXPECT_EQ(empty->base.ops->allocate(&empty->base, 1), nullptr);
    EXPECT_NE(empty->base.ops->allocate(&empty->base, 0), nullptr);

    ArenaAllocator* arena = arena_init(buffer.bytes, ARENA_HEAD_SIZE + 80);
    ASSERT_NE(arena, nullptr);
    Allocator* a = &arena->base;
    EXPECT_EQ(a->capacity, 80u);
    EXPECT_EQ(arena->buffer_size, ARENA_HEAD_SIZE + 80);
    EXPECT_EQ(arena->arena_base, buffer.bytes + ARENA_HEAD_SIZE);
    unsigned char* first = static_cast<unsigned char*>(a->ops->allocate(a, 50));
    EXPECT_EQ(first, arena->arena_base);
    EXPECT_EQ(a->ops->allocate(a, 31), nullptr);
    unsigned char* second = static_cast<unsigned char*>(a->ops->allocate(a, 30));
    EXPECT_EQ(second, first + 50);
    EXPECT_EQ(a->used, 80u);
    EXPECT_EQ(a->ops->allocate(a, 1), nullptr);
    a->ops->free(a, first, 50); // frees nothing
    EXPECT_EQ(a->used, 80u);
    allocator_destroy(a); // arenas have no teardown
    allocator_destroy(nullptr);
}

TEST(Memory, ArenaBlocksThroughMemAlloc) {
    ArenaBuffer buffer;
    ArenaAllocator* arena = arena_init(buffer.bytes, ARENA_HEAD_SIZE + 3 * BLOCK_HEADER_SIZE + 40);
    ASSERT_NE(arena, nullptr);
    Allocator* a = &arena->base;

    char* p = static_cast<char*>(mem_alloc(a, 7, 0));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(mem_owner(p), a);
    EXPECT_EQ(a->used, 7 + BLOCK_HEADER_SIZE);
    std::memcpy(p, "abcdefg", 7);

    // The next header starts at an odd offset; it must still read back.
    char* q = static_cast<char*>(mem_realloc(p, 12));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(mem_owner(q), a);
    EXPECT_EQ(std::memcmp(q, "abcdefg", 7), 0);
    EXPECT_EQ(a->used, 19 + 2 * BLOCK_HEADER_SIZE);

    // Not enough room left: null, and the old block is untouched.
    EXPECT_EQ(mem_realloc(q, 30), nullptr);
    EXPECT_EQ(std::memcmp(q, "abcdefg", 7), 0);
    EXPECT_EQ(a->used, 19 + 2 * BLOCK_HEADER_SIZE);
    mem_free(q);
    EXPECT_EQ(a->used, 19 + 2 * BLOCK_HEADER_SIZE);
}
