// Test doubles for the stream tests: an allocator that counts the blocks it
// has out (to see what a close released) and a stream that accepts at most a
// few bytes per write, as a device that is briefly full would.
#pragma once

#include <cstdlib>

#include "stream/stream.h"
#include "support/memory.h"

struct CountingAllocator {
    Allocator base;
    int blocks = 0;

    CountingAllocator() : base{&ops_table(), 0, 0} {}

  private:
    static const AllocatorOps& ops_table() {
        static const AllocatorOps ops = {nullptr,
                                         [](Allocator* a, uint32_t size) -> void* {
                                             void* block = std::malloc(size ? size : 1);
                                             a->used += size;
                                             ++reinterpret_cast<CountingAllocator*>(a)->blocks;
                                             return block;
                                         },
                                         nullptr,
                                         [](Allocator* a, void* block, uint32_t size) {
                                             a->used -= size;
                                             --reinterpret_cast<CountingAllocator*>(a)->blocks;
                                             std::free(block);
                                         }};
        return ops;
    }
};

// Forwards to an inner stream (not owned) but cuts every write to `cap`
// bytes.
struct CappedWriteStream {
    const StreamOps* ops;
    Stream* inner;
    uint32_t cap;

    CappedWriteStream(Stream* inner_stream, uint32_t write_cap)
        : ops(&ops_table()), inner(inner_stream), cap(write_cap) {}
    Stream* stream() { return reinterpret_cast<Stream*>(this); }

  private:
    static CappedWriteStream* of(Stream* s) { return reinterpret_cast<CappedWriteStream*>(s); }
    static const StreamOps& ops_table() {
        static const StreamOps ops = {
            [](Stream*) {},
            [](Stream* s, void* b, uint32_t n) { return stream_read(of(s)->inner, b, n); },
            [](Stream* s, const void* b, uint32_t n) {
                return stream_write(of(s)->inner, b, n < of(s)->cap ? n : of(s)->cap);
            },
            [](Stream* s) { stream_flush(of(s)->inner); },
            [](Stream* s, int32_t o, int origin) { return stream_seek(of(s)->inner, o, origin); },
            [](Stream* s) { return stream_tell(of(s)->inner); },
            [](Stream* s) { return stream_size(of(s)->inner); },
            [](Stream* s) { return stream_state(of(s)->inner); }};
        return ops;
    }
};

// A 256-byte test key: a permutation of 0..255 with no fixed pattern of zeros.
inline const unsigned char* test_key() {
    static unsigned char key[256];
    for (int i = 0; i < 256; ++i) {
        key[i] = static_cast<unsigned char>(i * 167 + 13);
    }
    return key;
}
