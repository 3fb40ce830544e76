#include "stream/stream.h"

// Values are assembled byte by byte so that the file format stays
// little-endian whatever the machine. A short read yields 0 rather than
// whatever happened to be on the stack.
static uint64_t stream_read_le(Stream* stream, uint32_t width) {
    unsigned char bytes[8] = {};
    if (stream_read(stream, bytes, width) != width) {
        return 0;
    }
    uint64_t value = 0;
    for (uint32_t i = width; i-- > 0;) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

static uint32_t stream_write_le(Stream* stream, uint64_t value, uint32_t width) {
    unsigned char bytes[8];
    for (uint32_t i = 0; i < width; ++i) {
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    }
    return stream_write(stream, bytes, width);
}

int stream_read_char(Stream* stream) {
    return static_cast<int8_t>(stream_read_le(stream, 1));
}
int stream_read_wchar(Stream* stream) {
    return static_cast<uint16_t>(stream_read_le(stream, 2));
}
int8_t stream_read_s8(Stream* stream) {
    return static_cast<int8_t>(stream_read_le(stream, 1));
}
uint8_t stream_read_u8(Stream* stream) {
    return static_cast<uint8_t>(stream_read_le(stream, 1));
}
int16_t stream_read_s16(Stream* stream) {
    return static_cast<int16_t>(stream_read_le(stream, 2));
}
uint16_t stream_read_u16(Stream* stream) {
    return static_cast<uint16_t>(stream_read_le(stream, 2));
}
int32_t stream_read_s32(Stream* stream) {
    return static_cast<int32_t>(stream_read_le(stream, 4));
}
uint32_t stream_read_u32(Stream* stream) {
    return static_cast<uint32_t>(stream_read_le(stream, 4));
}
int64_t stream_read_s64(Stream* stream) {
    return static_cast<int64_t>(stream_read_le(stream, 8));
}
uint64_t stream_read_u64(Stream* stream) {
    return stream_read_le(stream, 8);
}

uint32_t stream_write_char(Stream* stream, int value) {
    return stream_write_le(stream, static_cast<uint8_t>(value), 1);
}
uint32_t stream_write_wchar(Stream* stream, int value) {
    return stream_write_le(stream, static_cast<uint16_t>(value), 2);
}
uint32_t stream_write_s8(Stream* stream, int8_t value) {
    return stream_write_le(stream, static_cast<uint8_t>(value), 1);
}
uint32_t stream_write_u8(Stream* stream, uint8_t value) {
    return stream_write_le(stream, value, 1);
}
uint32_t stream_write_s16(Stream* stream, int16_t value) {
    return stream_write_le(stream, static_cast<uint16_t>(value), 2);
}
uint32_t stream_write_u16(Stream* stream, uint16_t value) {
    return stream_write_le(stream, value, 2);
}
uint32_t stream_write_s32(Stream* stream, int32_t value) {
    return stream_write_le(stream, static_cast<uint32_t>(value), 4);
}
uint32_t stream_write_u32(Stream* stream, uint32_t value) {
    return stream_write_le(stream, value, 4);
}
uint32_t stream_write_s64(Stream* stream, int64_t value) {
    return stream_write_le(stream, static_cast<uint64_t>(value), 8);
}
uint32_t stream_write_u64(Stream* stream, uint64_t value) {
    return stream_write_le(stream, value, 8);
}
