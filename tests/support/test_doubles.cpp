#include "support/test_doubles.h"

#include <cstdlib>

static void* counting_allocate(Allocator* allocator, uint32_t size) {
    void* block = std::malloc(size ? size : 1);
    if (block) {
        reinterpret_cast<CountingAllocator*>(allocator)->live_blocks++;
        allocator->used += size;
    }
    return block;
}

static void* counting_reallocate(Allocator* allocator, void* block, uint32_t old_size,
                                 uint32_t new_size) {
    void* moved = block ? std::realloc(block, new_size ? new_size : 1) : nullptr;
    if (moved) {
        allocator->used += new_size - old_size;
    }
    return moved;
}

static void counting_free(Allocator* allocator, void* block, uint32_t size) {
    reinterpret_cast<CountingAllocator*>(allocator)->live_blocks--;
    allocator->used -= size;
    std::free(block);
}

static const AllocatorOps counting_ops = {nullptr, counting_allocate, counting_reallocate,
                                          counting_free};

CountingAllocator::CountingAllocator() : base{&counting_ops, 0, 0}, live_blocks(0) {}

static ShortWriteStream* as_short(Stream* s) {
    return reinterpret_cast<ShortWriteStream*>(s);
}

static void short_close(Stream* s) {
    ShortWriteStream* self = as_short(s);
    if (self->owns_inner) {
        stream_close(self->inner);
        delete self;
    }
}

static uint32_t short_read(Stream* s, void* buffer, uint32_t count) {
    return stream_read(as_short(s)->inner, buffer, count);
}

static uint32_t short_write(Stream* s, const void* buffer, uint32_t count) {
    ShortWriteStream* self = as_short(s);
    uint32_t allowed = count < self->per_write ? count : self->per_write;
    allowed = allowed < self->budget ? allowed : self->budget;
    uint32_t written = stream_write(self->inner, buffer, allowed);
    self->budget -= written;
    return written;
}

static void short_flush(Stream* s) {
    stream_flush(as_short(s)->inner);
}

static uint32_t short_seek(Stream* s, int32_t offset, int origin) {
    return stream_seek(as_short(s)->inner, offset, origin);
}

static uint32_t short_tell(Stream* s) {
    return stream_tell(as_short(s)->inner);
}

static uint32_t short_size(Stream* s) {
    return stream_size(as_short(s)->inner);
}

static uint32_t short_state(Stream* s) {
    return stream_state(as_short(s)->inner);
}

static const StreamOps short_write_ops = {
    .close = short_close,
    .read = short_read,
    .write = short_write,
    .flush = short_flush,
    .seek = short_seek,
    .tell = short_tell,
    .size = short_size,
    .state = short_state,
};

ShortWriteStream::ShortWriteStream(Stream* inner_stream, uint32_t write_cap, uint32_t total)
    : ops(&short_write_ops), inner(inner_stream), per_write(write_cap), budget(total),
      owns_inner(false) {}

Stream* short_write_stream_open(Stream* inner, uint32_t per_write, uint32_t budget) {
    ShortWriteStream* stream = new ShortWriteStream(inner, per_write, budget);
    stream->owns_inner = true;
    return stream->stream();
}
