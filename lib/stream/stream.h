// The byte-stream interface: a plain object whose first field points to a
// constant table of eight operations. Kinds stack: a filter holds an inner
// stream and forwards to it. Callers never look at a stream's kind.
#pragma once

#include <cstdint>

struct Allocator;
struct Stream;

constexpr uint32_t STREAM_STATE_MORE = 1;
constexpr uint32_t STREAM_STATE_END = 2;

constexpr int STREAM_SEEK_BEGIN = 0;
constexpr int STREAM_SEEK_CURRENT = 1;
constexpr int STREAM_SEEK_END = 2;

constexpr uint32_t STREAM_OPEN_READ = 1;
constexpr uint32_t STREAM_OPEN_WRITE = 2;
constexpr uint32_t STREAM_OPEN_LOAD = 8;

// Whether a stream made over a buffer or another stream takes it over: the
// memory stream frees its buffer, the range stream closes its inner stream.
constexpr int STREAM_BORROWS = 0;
constexpr int STREAM_OWNS = 1;

// Slot order is fixed; every kind fills all eight slots.
struct StreamOps {
    // Releases what the stream owns (a filter closes its inner stream when
    // it owns it: scramble and entry always, range when made STREAM_OWNS),
    // then the stream itself. The stream is gone afterwards.
    void (*close)(Stream* stream);
    // Up to count bytes from the position on; fewer at the end, on an error
    // or damaged data, 0 when nothing more comes. The position moves on by
    // what was read.
    uint32_t (*read)(Stream* stream, void* buffer, uint32_t count);
    // Up to count bytes at the position; a short count means the rest was
    // refused (a full disk, a full window, a read-only kind).
    uint32_t (*write)(Stream* stream, const void* buffer, uint32_t count);
    // Pushes buffered bytes on (a deflating entry finishes its zlib stream);
    // it does not reach the device: that is the platform's sync.
    void (*flush)(Stream* stream);
    // Moves the position (STREAM_SEEK_BEGIN, _CURRENT, _END) and returns it.
    // The kinds differ where the target lies outside the data: disk and
    // memory streams take it as given, so a target before the start wraps
    // round to a huge position past every end, where reads deliver nothing;
    // a range clamps below at 0 and keeps positions past its end; the
    // scramble filter passes the seek on; an entry stream cannot move and
    // returns where it is. An unknown origin changes nothing and returns 0.
    uint32_t (*seek)(Stream* stream, int32_t offset, int origin);
    // The position: bytes from the start of the stream's data.
    uint32_t (*tell)(Stream* stream);
    // The data's length: a disk or shared window's, a memory buffer's, a
    // range's window, an entry's content size as its record gives it.
    uint32_t (*size)(Stream* stream);
    // STREAM_STATE_MORE while a read may give bytes, STREAM_STATE_END after
    // the last; an inflating entry knows its end only once asked for more.
    uint32_t (*state)(Stream* stream);
};

struct Stream {
    const StreamOps* ops;
};

// Short-hands that call through the table.
inline void stream_close(Stream* s) {
    s->ops->close(s);
}
inline uint32_t stream_read(Stream* s, void* b, uint32_t n) {
    return s->ops->read(s, b, n);
}
inline uint32_t stream_write(Stream* s, const void* b, uint32_t n) {
    return s->ops->write(s, b, n);
}
inline void stream_flush(Stream* s) {
    s->ops->flush(s);
}
inline uint32_t stream_seek(Stream* s, int32_t o, int origin) {
    return s->ops->seek(s, o, origin);
}
inline uint32_t stream_tell(Stream* s) {
    return s->ops->tell(s);
}
inline uint32_t stream_size(Stream* s) {
    return s->ops->size(s);
}
inline uint32_t stream_state(Stream* s) {
    return s->ops->state(s);
}

// Constructors. Each takes the Allocator last (null: the heap) and returns
// the stream or null. A filter that cannot be made leaves its inner stream
// with the caller. Disk files stay below 2 GiB: larger files are refused and
// writes stop short at 2^31 - 1 bytes.
Stream* stream_open_file(const char* path, uint32_t start, uint32_t length, uint32_t flags,
                         Allocator* allocator);
Stream* stream_open_memory(void* buffer, uint32_t size, uint32_t flags, int owns,
                           Allocator* allocator);
Stream* stream_load(Stream* stream, Allocator* allocator);
Stream* stream_open_range(Stream* inner, int owns, uint32_t start, uint32_t length, uint32_t flags,
                          Allocator* allocator);
Stream* stream_open_scramble(Stream* inner, const unsigned char* key, uint32_t key_length,
                             uint32_t limit, Allocator* allocator);

// Typed little-endian helpers. A reading helper that gets fewer bytes than it
// needs returns 0.
int stream_read_char(Stream* stream);
int stream_read_wchar(Stream* stream);
int8_t stream_read_s8(Stream* stream);
uint8_t stream_read_u8(Stream* stream);
int16_t stream_read_s16(Stream* stream);
uint16_t stream_read_u16(Stream* stream);
int32_t stream_read_s32(Stream* stream);
uint32_t stream_read_u32(Stream* stream);
int64_t stream_read_s64(Stream* stream);
uint64_t stream_read_u64(Stream* stream);

uint32_t stream_write_char(Stream* stream, int value);
uint32_t stream_write_wchar(Stream* stream, int value);
uint32_t stream_write_s8(Stream* stream, int8_t value);
uint32_t stream_write_u8(Stream* stream, uint8_t value);
uint32_t stream_write_s16(Stream* stream, int16_t value);
uint32_t stream_write_u16(Stream* stream, uint16_t value);
uint32_t stream_write_s32(Stream* stream, int32_t value);
uint32_t stream_write_u32(Stream* stream, uint32_t value);
uint32_t stream_write_s64(Stream* stream, int64_t value);
uint32_t stream_write_u64(Stream* stream, uint64_t value);

// Reads one CR LF line into buffer (at most size - 1 bytes, then a NUL). A
// lone LF is part of the line, a CR before any other byte is dropped, and a
// longer line comes back in pieces. An empty line and the end both give 0:
// ask the stream's state to tell them apart.
uint32_t read_line(Stream* stream, char* buffer, uint32_t size);
// Writes text and then CR LF; returns the count of the first write.
uint32_t write_line(Stream* stream, const char* text);
