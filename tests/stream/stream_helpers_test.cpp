#include <gtest/gtest.h>

#include <cstring>

#include "stream/stream.h"

TEST(StreamHelpers, ValuesAreLittleEndian) {
    unsigned char bytes[32] = {};
    Stream* s = stream_open_memory(bytes, sizeof bytes, 0, 0, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(stream_write_u64(s, 0x0102030405060708ull), 8u);
    EXPECT_EQ(stream_write_u32(s, 0xA1B2C3D4u), 4u);
    EXPECT_EQ(stream_write_s16(s, -2), 2u);
    EXPECT_EQ(stream_write_char(s, -1), 1u);
    EXPECT_EQ(stream_write_wchar(s, 0x8182), 2u);
    EXPECT_EQ(stream_write_s64(s, -3), 8u);
    const unsigned char expected[] = {8,    7,    6,    5,    4,    3,    2,    1,    0xD4,
                                      0xC3, 0xB2, 0xA1, 0xFE, 0xFF, 0xFF, 0x82, 0x81, 0xFD,
                                      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::memcmp(bytes, expected, sizeof expected), 0);

    stream_seek(s, 0, STREAM_SEEK_BEGIN);
    EXPECT_EQ(stream_read_u64(s), 0x0102030405060708ull);
    EXPECT_EQ(stream_read_u32(s), 0xA1B2C3D4u);
    EXPECT_EQ(stream_read_s16(s), -2);
    EXPECT_EQ(stream_read_char(s), -1);      // signed, widened
    EXPECT_EQ(stream_read_wchar(s), 0x8182); // unsigned, widened
    EXPECT_EQ(stream_read_s64(s), -3);
    stream_seek(s, 0, STREAM_SEEK_BEGIN);
    EXPECT_EQ(stream_read_u8(s), 8u);
    EXPECT_EQ(stream_read_s8(s), 7);
    EXPECT_EQ(stream_read_u16(s), 0x0506u);
    EXPECT_EQ(stream_read_s32(s), 0x01020304);
    stream_close(s);
}

TEST(StreamHelpers, ShortReadsGiveZeroAndShortWritesShowInTheCount) {
    unsigned char bytes[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    Stream* s = stream_open_memory(bytes, sizeof bytes, 0, 0, nullptr);
    stream_seek(s, 4, STREAM_SEEK_BEGIN);
    EXPECT_EQ(stream_read_u32(s), 0u); // only two bytes were left
    EXPECT_EQ(stream_state(s), STREAM_STATE_END);
    EXPECT_EQ(stream_read_char(s), 0);
    EXPECT_EQ(stream_read_wchar(s), 0);
    EXPECT_EQ(stream_read_u64(s), 0u);
    stream_seek(s, 5, STREAM_SEEK_BEGIN);
    EXPECT_EQ(stream_read_s16(s), 0);

    stream_seek(s, 3, STREAM_SEEK_BEGIN);
    EXPECT_EQ(stream_write_u64(s, 0), 3u);
    EXPECT_EQ(stream_write_u8(s, 1), 0u);
    stream_close(s);
}
