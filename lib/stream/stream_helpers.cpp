#include "stream/stream.h"

// Values are assembled byte by byte so that the file format stays
// little-endian whatever the machine. A short read yields 0 rather than
// whatever happened to be on the stack.
template <typename T>
static T read_le(Stream* stream) {
    unsigned char bytes[sizeof(T)] = {};
    if (stream_read(stream, bytes, sizeof(T)) != sizeof(T)) {
        return 0;
    }
    uint64_t value = 0;
    for (uint32_t i = sizeof(T); i-- > 0;) {
        value = (value << 8) | bytes[i];
    }
    return static_cast<T>(value);
}

// One line each: the type says the width and the sign.
// clang-format off
int stream_read_char(Stream* stream) { return read_le<int8_t>(stream); }
int stream_read_wchar(Stream* stream) { return read_le<uint16_t>(stream); }
int8_t stream_read_s8(Stream* stream) { return read_le<int8_t>(stream); }
uint8_t stream_read_u8(Stream* stream) { return read_le<uint8_t>(stream); }
int16_t stream_read_s16(Stream* stream) { return read_le<int16_t>(stream); }
uint16_t stream_read_u16(Stream* stream) { return read_le<uint16_t>(stream); }
int32_t stream_read_s32(Stream* stream) { return read_le<int32_t>(stream); }
uint32_t stream_read_u32(Stream* stream) { return read_le<uint32_t>(stream); }
int64_t stream_read_s64(Stream* stream) { return read_le<int64_t>(stream); }
uint64_t stream_read_u64(Stream* stream) { return read_le<uint64_t>(stream); }
// clang-format on

template <typename T>
static uint32_t write_le(Stream* stream, T value) {
    unsigned char bytes[sizeof(T)];
    for (uint32_t i = 0; i < sizeof(T); ++i) {
        bytes[i] = static_cast<unsigned char>(static_cast<uint64_t>(value) >> (8 * i));
    }
    return stream_write(stream, bytes, sizeof(T));
}

// clang-format off
uint32_t stream_write_char(Stream* stream, int value) { return write_le<uint8_t>(stream, value); }
uint32_t stream_write_wchar(Stream* stream, int value) { return write_le<uint16_t>(stream, value); }
uint32_t stream_write_s8(Stream* stream, int8_t value) { return write_le(stream, value); }
uint32_t stream_write_u8(Stream* stream, uint8_t value) { return write_le(stream, value); }
uint32_t stream_write_s16(Stream* stream, int16_t value) { return write_le(stream, value); }
uint32_t stream_write_u16(Stream* stream, uint16_t value) { return write_le(stream, value); }
uint32_t stream_write_s32(Stream* stream, int32_t value) { return write_le(stream, value); }
uint32_t stream_write_u32(Stream* stream, uint32_t value) { return write_le(stream, value); }
uint32_t stream_write_s64(Stream* stream, int64_t value) { return write_le(stream, value); }
uint32_t stream_write_u64(Stream* stream, uint64_t value) { return write_le(stream, value); }
// clang-format on
