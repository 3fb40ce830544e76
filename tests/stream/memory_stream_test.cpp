#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "stream/test_streams.h"

TEST(MemoryStream, TransfersStopAtTheFixedSize) {
    char bytes[5] = {'a', 'b', 'c', 'd', 'e'};
    Stream* s = stream_open_memory(bytes, 5, 0, 0, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(stream_size(s), 5u);
    EXPECT_EQ(stream_state(s), STREAM_STATE_MORE);

    EXPECT_EQ(stream_seek(s, 2, STREAM_SEEK_BEGIN), 2u);
    EXPECT_EQ(stream_write(s, "12345678", 8), 3u);
    EXPECT_EQ(std::string(bytes, 5), "ab123");
    EXPECT_EQ(stream_tell(s), 5u);
    EXPECT_EQ(stream_state(s), STREAM_STATE_END);
    EXPECT_EQ(stream_write(s, "x", 1), 0u);

    char out[8] = {};
    EXPECT_EQ(stream_seek(s, -4, STREAM_SEEK_END), 1u);
    EXPECT_EQ(stream_read(s, out, 8), 4u);
    EXPECT_EQ(std::string(out, 4), "b123");

    // No clamping: past the end reads nothing and the stream is at its end.
    EXPECT_EQ(stream_seek(s, 10, STREAM_SEEK_CURRENT), 15u);
    EXPECT_EQ(stream_read(s, out, 8), 0u);
    EXPECT_EQ(stream_state(s), STREAM_STATE_END);

    EXPECT_EQ(stream_seek(s, 1, STREAM_SEEK_BEGIN), 1u);
    EXPECT_EQ(stream_seek(s, 3, 3), 0u); // unknown origin
    EXPECT_EQ(stream_tell(s), 1u);
    stream_close(s);

    Stream* empty = stream_open_memory(nullptr, 0, 0, 0, nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(stream_state(empty), STREAM_STATE_END);
    EXPECT_EQ(stream_read(empty, out, 1), 0u);
    stream_close(empty);
    EXPECT_EQ(stream_open_memory(nullptr, 4, 0, 0, nullptr), nullptr);
}

TEST(MemoryStream, CloseFreesTheBufferOnlyWhenOwned) {
    CountingAllocator counter;
    char* owned = static_cast<char*>(mem_alloc(&counter.base, 16, 0));
    Stream* s = stream_open_memory(owned, 16, 0, 1, &counter.base);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(counter.live_blocks, 2);
    stream_close(s);
    EXPECT_EQ(counter.live_blocks, 0);
    EXPECT_EQ(counter.base.used, 0u);

    char borrowed[4] = {'w', 'x', 'y', 'z'};
    s = stream_open_memory(borrowed, 4, 0, 0, &counter.base);
    stream_close(s);
    EXPECT_EQ(counter.live_blocks, 0);
    EXPECT_EQ(borrowed[0], 'w');
}

TEST(MemoryStream, LoadCopiesEverythingAndClosesTheSource) {
    CountingAllocator counter;
    std::string text = "loaded bytes";
    Stream* source = stream_open_memory(text.data(), uint32_t(text.size()), 0, 0, &counter.base);
    Stream* loaded = stream_load(source, &counter.base);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(counter.live_blocks, 2); // the copy and its stream; the source is gone
    text[0] = 'X';                     // the copy does not share the source's bytes
    char out[32] = {};
    EXPECT_EQ(stream_size(loaded), 12u);
    EXPECT_EQ(stream_read(loaded, out, sizeof out), 12u);
    EXPECT_STREQ(out, "loaded bytes");
    stream_close(loaded);
    EXPECT_EQ(counter.live_blocks, 0);

    // A source that claims more than it delivers loads only what it has,
    // never undefined bytes.
    char inner_bytes[10] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    Stream* inner = stream_open_memory(inner_bytes, 10, 0, 0, &counter.base);
    Stream* too_long = stream_open_range(inner, 1, 4, 100, 0, &counter.base);
    ASSERT_EQ(stream_size(too_long), 100u);
    loaded = stream_load(too_long, &counter.base);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(stream_size(loaded), 6u);
    EXPECT_EQ(stream_read(loaded, out, sizeof out), 6u);
    EXPECT_EQ(std::string(out, 6), "456789");
    stream_close(loaded);
    EXPECT_EQ(counter.live_blocks, 0);

    EXPECT_EQ(stream_load(nullptr, &counter.base), nullptr);
}
