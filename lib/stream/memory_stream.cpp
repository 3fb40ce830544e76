#include <cstring>

#include "stream/stream.h"
#include "stream_seek.h"
#include "support/memory.h"

namespace {

struct MemoryStream {
    const StreamOps* ops;
    unsigned char* buffer;
    uint32_t size; // fixed: the buffer never grows
    uint32_t position;
    int owns; // close frees buffer with mem_free
};

} // namespace

static MemoryStream* memory_of(Stream* s) {
    return reinterpret_cast<MemoryStream*>(s);
}

// Bytes available at the position, at most n.
static uint32_t memory_span(const MemoryStream* m, uint32_t n) {
    if (m->position >= m->size) {
        return 0;
    }
    uint32_t left = m->size - m->position;
    return n < left ? n : left;
}

static void memory_close(Stream* s) {
    MemoryStream* m = memory_of(s);
    if (m->owns) {
        mem_free(m->buffer);
    }
    mem_free(m);
}

static uint32_t memory_read(Stream* s, void* buffer, uint32_t n) {
    MemoryStream* m = memory_of(s);
    uint32_t count = memory_span(m, n);
    if (count) {
        std::memcpy(buffer, m->buffer + m->position, count);
        m->position += count;
    }
    return count;
}

static uint32_t memory_write(Stream* s, const void* buffer, uint32_t n) {
    MemoryStream* m = memory_of(s);
    uint32_t count = memory_span(m, n);
    if (count) {
        std::memcpy(m->buffer + m->position, buffer, count);
        m->position += count;
    }
    return count;
}

static void memory_flush(Stream*) {}

static uint32_t memory_seek(Stream* s, int32_t offset, int origin) {
    MemoryStream* m = memory_of(s);
    uint32_t target;
    if (!stream_seek_target(m->position, m->size, offset, origin, &target)) {
        return 0;
    }
    m->position = target;
    return target;
}

static uint32_t memory_tell(Stream* s) {
    return memory_of(s)->position;
}
static uint32_t memory_size(Stream* s) {
    return memory_of(s)->size;
}

static uint32_t memory_state(Stream* s) {
    MemoryStream* m = memory_of(s);
    return m->position < m->size ? STREAM_STATE_MORE : STREAM_STATE_END;
}

static const StreamOps memory_ops = {
    .close = memory_close,
    .read = memory_read,
    .write = memory_write,
    .flush = memory_flush,
    .seek = memory_seek,
    .tell = memory_tell,
    .size = memory_size,
    .state = memory_state,
};

Stream* stream_open_memory(void* buffer, uint32_t size, uint32_t flags, int owns,
                           Allocator* allocator) {
    if (!buffer && size) {
        return nullptr;
    }
    MemoryStream* m = static_cast<MemoryStream*>(mem_alloc(allocator, sizeof(MemoryStream), 0));
    if (!m) {
        return nullptr;
    }
    *m = {&memory_ops, static_cast<unsigned char*>(buffer), size, 0, owns};
    return reinterpret_cast<Stream*>(m);
}

// Reads until the stream stops delivering, so a short first read cannot
// leave undefined bytes at the end of the loaded copy: the copy's size is
// what was actually read.
Stream* stream_load(Stream* stream, Allocator* allocator) {
    if (!stream) {
        return nullptr;
    }
    uint32_t size = stream_size(stream);
    unsigned char* buffer = static_cast<unsigned char*>(mem_alloc(allocator, size, 0));
    uint32_t loaded = 0;
    while (buffer && loaded < size) {
        uint32_t count = stream_read(stream, buffer + loaded, size - loaded);
        if (count == 0) {
            break;
        }
        loaded += count;
    }
    stream_close(stream);
    if (!buffer) {
        return nullptr;
    }
    Stream* loaded_stream = stream_open_memory(buffer, loaded, 0, STREAM_OWNS, allocator);
    if (!loaded_stream) {
        mem_free(buffer);
    }
    return loaded_stream;
}
