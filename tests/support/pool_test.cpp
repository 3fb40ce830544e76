#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <vector>

#include "support/pool_allocator.h"

namespace {

void* pool_take(PoolAllocator* pool, uint32_t size) {
    return pool->base.ops->allocate(&pool->base, size);
}

void pool_give(PoolAllocator* pool, void* block, uint32_t size) {
    pool->base.ops->free(&pool->base, block, size);
}

uintptr_t address(const void* p) {
    return reinterpret_cast<uintptr_t>(p);
}

} // namespace

TEST(Pool, LayoutOfTenByteBlocks) {
    PoolAllocator* pool = pool_create(nullptr, 10, 3, 4, 0);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->stride, 12u);
    EXPECT_EQ(pool->base.capacity, 36u);
    EXPECT_EQ(pool->base.used, 0u);
    EXPECT_EQ(pool->block_count, 3u);
    EXPECT_EQ(pool->blocks_out, 0u);
    EXPECT_EQ(pool->lock, nullptr);
    EXPECT_EQ(mem_owner(pool), mem_default_allocator());
    if (sizeof(void*) == 4) {
        EXPECT_EQ(POOL_HEAD_SIZE, 64u);
    }
    EXPECT_GE(POOL_HEAD_SIZE, sizeof(PoolAllocator));

    // The blocks follow the head, one stride apart, in handing-out order.
    uintptr_t first = (address(pool) + POOL_HEAD_SIZE + 3) / 4 * 4;
    void* a = pool_take(pool, 10);
    void* b = pool_take(pool, 12);
    void* c = pool_take(pool, 1);
    EXPECT_EQ(address(a), first);
    EXPECT_EQ(address(b), first + 12);
    EXPECT_EQ(address(c), first + 24);
    allocator_destroy(&pool->base);
}

TEST(Pool, HandsOutEachBlockOnceAndReusesTheLastFreed) {
    PoolAllocator* pool = pool_create(nullptr, 10, 3, 4, 0);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool_take(pool, 13), nullptr);
    EXPECT_EQ(pool->blocks_out, 0u);

    void* blocks[3];
    for (void*& block : blocks) {
        block = pool_take(pool, 12);
        ASSERT_NE(block, nullptr);
        std::memset(block, 0xAB, 12);
    }
    EXPECT_EQ(pool_take(pool, 4), nullptr);
    EXPECT_EQ(pool->blocks_out, 3u);
    EXPECT_EQ(pool->base.used, 36u);

    pool_give(pool, blocks[1], 12);
    EXPECT_EQ(pool->blocks_out, 2u);
    EXPECT_EQ(pool->base.used, 24u);
    EXPECT_EQ(pool_take(pool, 12), blocks[1]);

    pool_give(pool, blocks[0], 0); // the size is not consulted
    pool_give(pool, blocks[2], 12);
    EXPECT_EQ(pool_take(pool, 12), blocks[2]);
    EXPECT_EQ(pool_take(pool, 12), blocks[0]);
    EXPECT_EQ(pool_take(pool, 12), nullptr);
    allocator_destroy(&pool->base);
}

TEST(Pool, ReallocateKeepsTheBlockOrFails) {
    PoolAllocator* pool = pool_create(nullptr, 10, 3, 4, 0);
    ASSERT_NE(pool, nullptr);
    const AllocatorOps* ops = pool->base.ops;
    void* block = pool_take(pool, 10);
    std::memcpy(block, "abcdefghij", 10);

    EXPECT_EQ(ops->reallocate(&pool->base, block, 10, 12), block);
    EXPECT_EQ(ops->reallocate(&pool->base, block, 12, 1), block);
    EXPECT_EQ(ops->reallocate(&pool->base, block, 1, 13), nullptr);
    EXPECT_EQ(std::memcmp(block, "abcdefghij", 10), 0);
    EXPECT_EQ(pool->blocks_out, 1u);
    EXPECT_EQ(pool->base.used, 12u);
    allocator_destroy(&pool->base);
}

TEST(Pool, AlignmentAndStride) {
    // Above 4 counts as 4: 10 bytes take 12, not 16.
    PoolAllocator* eight = pool_create(nullptr, 10, 4, 8, 0);
    ASSERT_NE(eight, nullptr);
    EXPECT_EQ(eight->stride, 12u);
    EXPECT_EQ(eight->base.capacity, 48u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(address(pool_take(eight, 12)) % 4, 0u);
    allocator_destroy(&eight->base);

    PoolAllocator* two = pool_create(nullptr, 9, 2, 2, 0);
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(two->stride, 10u);
    allocator_destroy(&two->base);

    PoolAllocator* one = pool_create(nullptr, 9, 2, 1, 0);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->stride, 9u);
    void* a = pool_take(one, 9);
    void* b = pool_take(one, 9);
    EXPECT_EQ(address(b) - address(a), 9u);
    allocator_destroy(&one->base);
}

TEST(Pool, BlocksSmallerThanALinkDoNotOverlap) {
    // A free block stores a pointer; one-byte blocks would let that link
    // spill into the neighbours.
    PoolAllocator* pool = pool_create(nullptr, 1, 4, 1, 0);
    ASSERT_NE(pool, nullptr);
    EXPECT_GE(pool->stride, sizeof(void*));
    unsigned char* blocks[4];
    for (int i = 0; i < 4; ++i) {
        blocks[i] = static_cast<unsigned char*>(pool_take(pool, 1));
        ASSERT_NE(blocks[i], nullptr);
        *blocks[i] = static_cast<unsigned char>(0x10 + i);
    }
    pool_give(pool, blocks[0], 1);
    pool_give(pool, blocks[2], 1);
    EXPECT_EQ(*blocks[1], 0x11);
    EXPECT_EQ(*blocks[3], 0x13);
    EXPECT_EQ(pool_take(pool, 1), blocks[2]);
    EXPECT_EQ(pool_take(pool, 1), blocks[0]);
    allocator_destroy(&pool->base);
}

TEST(Pool, RefusesImpossibleGeometry) {
    uint32_t used = mem_default_allocator()->used;
    EXPECT_EQ(pool_create(nullptr, 16, 0, 4, 0), nullptr);
    // 2^16 blocks of 2^16 bytes do not fit a 32-bit size.
    EXPECT_EQ(pool_create(nullptr, 0x10000, 0x10000, 4, 0), nullptr);
    EXPECT_EQ(pool_create(nullptr, 0xFFFFFFFFu, 1, 4, 0), nullptr);
    EXPECT_EQ(mem_default_allocator()->used, used);
}

TEST(Pool, PlugsIntoTheCommonAllocatorFunctions) {
    // The parent is an arena, so the whole pool must be one block of it.
    alignas(16) static unsigned char buffer[4096];
    ArenaAllocator* arena = arena_init(buffer, sizeof buffer);
    ASSERT_NE(arena, nullptr);
    PoolAllocator* pool = pool_create(&arena->base, 64, 4, 4, 1);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(mem_owner(pool), &arena->base);
    EXPECT_EQ(arena->base.used, 4 * 64 + 4 + POOL_HEAD_SIZE + BLOCK_HEADER_SIZE);
    EXPECT_EQ(pool->lock, &pool->lock_storage);

    // mem_alloc asks the pool for size + header; 64 - header bytes fit.
    char* text = static_cast<char*>(mem_alloc(&pool->base, 64 - BLOCK_HEADER_SIZE, 0));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(mem_owner(text), &pool->base);
    EXPECT_EQ(pool->blocks_out, 1u);
    EXPECT_EQ(mem_alloc(&pool->base, 65 - BLOCK_HEADER_SIZE, 0), nullptr);
    std::strcpy(text, "kept");
    char* same = static_cast<char*>(mem_realloc(text, 8));
    EXPECT_EQ(same, text);
    EXPECT_STREQ(same, "kept");
    EXPECT_EQ(mem_realloc(same, 64), nullptr);
    mem_free(same);
    EXPECT_EQ(pool->blocks_out, 0u);
    EXPECT_EQ(pool->base.used, 0u);
    allocator_destroy(&pool->base);

    // Destroying hands the block back through the heap's own accounting too.
    uint32_t heap_used = mem_default_allocator()->used;
    PoolAllocator* heap_pool = pool_create(nullptr, 32, 8, 4, 1);
    ASSERT_NE(heap_pool, nullptr);
    EXPECT_GT(mem_default_allocator()->used, heap_used);
    allocator_destroy(&heap_pool->base);
    EXPECT_EQ(mem_default_allocator()->used, heap_used);
}

namespace {

struct StressShared {
    PoolAllocator* pool;
    std::atomic<int> refused{0};
    std::atomic<int> overlaps{0};
};

struct StressArgument {
    StressShared* shared;
    unsigned char mark;
};

constexpr uint32_t STRESS_PAYLOAD = 40;
constexpr int STRESS_HELD = 6;
constexpr int STRESS_ROUNDS = 3000;

// Each thread keeps a few blocks filled with its own mark and checks that
// nobody else wrote into them before giving them back.
void stress_worker(void* parameter) {
    StressArgument* argument = static_cast<StressArgument*>(parameter);
    StressShared* shared = argument->shared;
    unsigned char* held[STRESS_HELD] = {};
    for (int round = 0; round < STRESS_ROUNDS; ++round) {
        for (unsigned char*& block : held) {
            block = static_cast<unsigned char*>(mem_alloc(&shared->pool->base, STRESS_PAYLOAD, 0));
            if (!block) {
                shared->refused++;
                continue;
            }
            std::memset(block, argument->mark, STRESS_PAYLOAD);
        }
        for (unsigned char*& block : held) {
            if (!block)
                continue;
            for (uint32_t i = 0; i < STRESS_PAYLOAD; ++i) {
                if (block[i] != argument->mark) {
                    shared->overlaps++;
                    break;
                }
            }
            mem_free(block);
            block = nullptr;
        }
    }
}

} // namespace

TEST(Pool, SharedByFourThreads) {
    constexpr uint32_t count = 4 * STRESS_HELD + 4;
    PoolAllocator* pool = pool_create(nullptr, STRESS_PAYLOAD + BLOCK_HEADER_SIZE, count, 4, 1);
    ASSERT_NE(pool, nullptr);
    StressShared shared;
    shared.pool = pool;
    StressArgument arguments[4];
    Thread threads[4];
    for (int i = 0; i < 4; ++i) {
        arguments[i] = {&shared, static_cast<unsigned char>(0xA0 + i)};
        thread_start(&threads[i], nullptr, stress_worker, &arguments[i], 0);
        ASSERT_NE(threads[i].handle, nullptr);
    }
    for (Thread& thread : threads)
        thread_join(&thread);

    EXPECT_EQ(shared.refused.load(), 0);
    EXPECT_EQ(shared.overlaps.load(), 0);
    EXPECT_EQ(pool->blocks_out, 0u);
    EXPECT_EQ(pool->base.used, 0u);

    // The free list still holds every block exactly once.
    std::set<void*> seen;
    for (uint32_t i = 0; i < count; ++i) {
        void* block = pool_take(pool, 1);
        ASSERT_NE(block, nullptr);
        EXPECT_TRUE(seen.insert(block).second);
    }
    EXPECT_EQ(pool_take(pool, 1), nullptr);
    allocator_destroy(&pool->base);
}
