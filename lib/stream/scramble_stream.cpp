#include <cstring>

#include "stream/stream.h"
#include "stream_filter.h"
#include "support/memory.h"

namespace {

struct ScrambleStream {
    const StreamOps* ops;
    Stream* inner; // always owned
    uint32_t position;
    const unsigned char* key; // not owned; null: no scrambling
    uint32_t key_length;
    uint32_t limit; // only positions below it are scrambled
};

// Scrambled bytes go down in pieces of this size through a stack buffer,
// so a write never allocates.
constexpr uint32_t SCRAMBLE_PIECE = 1024;

static_assert(stream_filter_layout<ScrambleStream>());

} // namespace

static ScrambleStream* scramble_of(Stream* s) {
    return reinterpret_cast<ScrambleStream*>(s);
}

// Number of bytes from the position on that fall below the limit, at most n.
static uint32_t scramble_span(const ScrambleStream* c, uint32_t n) {
    if (!c->key || c->position >= c->limit) {
        return 0;
    }
    uint32_t left = c->limit - c->position;
    return n < left ? n : left;
}

static void scramble_xor(const ScrambleStream* c, unsigned char* bytes, uint32_t position,
                         uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        bytes[i] ^= c->key[(position + i) % c->key_length];
    }
}

static void scramble_close(Stream* s) {
    ScrambleStream* c = scramble_of(s);
    stream_close(c->inner);
    mem_free(c);
}

static uint32_t scramble_read(Stream* s, void* buffer, uint32_t n) {
    ScrambleStream* c = scramble_of(s);
    uint32_t count = stream_read(c->inner, buffer, n);
    scramble_xor(c, static_cast<unsigned char*>(buffer), c->position, scramble_span(c, count));
    c->position += count;
    return count;
}

// The caller's bytes stay untouched. The unscrambled tail goes down only
// when every byte below the limit was accepted: after a short piece the
// following bytes would land at the wrong place, and tail bytes sent then
// would be stored unscrambled at positions that must be scrambled.
static uint32_t scramble_write(Stream* s, const void* buffer, uint32_t n) {
    ScrambleStream* c = scramble_of(s);
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    uint32_t scrambled = scramble_span(c, n);
    uint32_t sum = 0;
    while (sum < scrambled) {
        unsigned char piece[SCRAMBLE_PIECE];
        uint32_t size = scrambled - sum < SCRAMBLE_PIECE ? scrambled - sum : SCRAMBLE_PIECE;
        std::memcpy(piece, bytes + sum, size);
        scramble_xor(c, piece, c->position + sum, size);
        uint32_t count = stream_write(c->inner, piece, size);
        sum += count;
        if (count != size) {
            c->position += sum;
            return sum;
        }
    }
    if (sum < n) {
        sum += stream_write(c->inner, bytes + sum, n - sum);
    }
    c->position += sum;
    return sum;
}

// An unknown origin leaves inner where it is, so the key index must not
// move either.
static uint32_t scramble_seek(Stream* s, int32_t offset, int origin) {
    ScrambleStream* c = scramble_of(s);
    if (origin != STREAM_SEEK_BEGIN && origin != STREAM_SEEK_CURRENT && origin != STREAM_SEEK_END) {
        return 0;
    }
    c->position = stream_seek(c->inner, offset, origin);
    return c->position;
}

static uint32_t scramble_tell(Stream* s) {
    return scramble_of(s)->position;
}

static const StreamOps scramble_ops = {
    .close = scramble_close,
    .read = scramble_read,
    .write = scramble_write,
    .flush = stream_filter_flush,
    .seek = scramble_seek,
    .tell = scramble_tell,
    .size = stream_filter_size,
    .state = stream_filter_state,
};

// A key of length 0 cannot be indexed; it scrambles nothing, like a null key.
Stream* stream_open_scramble(Stream* inner, const unsigned char* key, uint32_t key_length,
                             uint32_t limit, Allocator* allocator) {
    ScrambleStream* c =
        static_cast<ScrambleStream*>(stream_filter_alloc(inner, sizeof(ScrambleStream), allocator));
    if (!c) {
        return nullptr;
    }
    *c = {&scramble_ops, inner, 0, key_length ? key : nullptr, key_length, limit};
    return reinterpret_cast<Stream*>(c);
}
