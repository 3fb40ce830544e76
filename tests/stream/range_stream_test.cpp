#include <gtest/gtest.h>

#include <string>

#include "stream/test_streams.h"
#include "support/test_support.h"

TEST(RangeStream, WindowClipsReadsAndWrites) {
    std::string data = make_bytes(1000, 1);
    Stream* inner = stream_open_memory(data.data(), 1000, 0, 0, nullptr);
    Stream* r = stream_open_range(inner, 0, 32, 100, 0, nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(stream_size(r), 100u);
    EXPECT_EQ(stream_tell(inner), 0u); // not moved at construction
    EXPECT_EQ(read_some(r, 500), data.substr(32, 100));
    EXPECT_EQ(stream_state(r), STREAM_STATE_END);
    EXPECT_EQ(read_some(r, 10), "");

    EXPECT_EQ(stream_seek(r, -10, STREAM_SEEK_END), 90u);
    EXPECT_EQ(stream_write(r, std::string(50, '#').data(), 50), 10u);
    EXPECT_EQ(data.substr(122, 10), std::string(10, '#'));
    EXPECT_NE(data[132], '#'); // nothing past the window
    EXPECT_EQ(stream_write(r, "#", 1), 0u);
    stream_close(r);
    stream_close(inner);

    Stream* empty_inner = stream_open_memory(data.data(), 1000, 0, 0, nullptr);
    Stream* empty = stream_open_range(empty_inner, 1, 10, 0, 0, nullptr);
    EXPECT_EQ(stream_state(empty), STREAM_STATE_END);
    EXPECT_EQ(read_some(empty, 5), "");
    stream_close(empty);
}

TEST(RangeStream, SeekingIsOwnPositionAndSurvivesInnerMoves) {
    std::string data = make_bytes(1000, 2);
    Stream* inner = stream_open_memory(data.data(), 1000, 0, 0, nullptr);
    Stream* r = stream_open_range(inner, 0, 32, 100, 0, nullptr);

    EXPECT_EQ(stream_seek(r, -5, STREAM_SEEK_BEGIN), 0u);
    EXPECT_EQ(stream_seek(r, 10, STREAM_SEEK_BEGIN), 10u);
    stream_seek(inner, 700, STREAM_SEEK_BEGIN); // someone else moves inner
    EXPECT_EQ(read_some(r, 4), data.substr(42, 4));
    EXPECT_EQ(stream_seek(r, 6, STREAM_SEEK_CURRENT), 20u);
    EXPECT_EQ(stream_seek(r, -30, STREAM_SEEK_CURRENT), 0u);
    EXPECT_EQ(stream_seek(r, 5, STREAM_SEEK_END), 105u); // no upper clamp
    EXPECT_EQ(read_some(r, 4), "");
    EXPECT_EQ(stream_seek(r, 7, STREAM_SEEK_BEGIN), 7u);
    EXPECT_EQ(stream_seek(r, 3, 3), 0u); // unknown origin
    EXPECT_EQ(stream_tell(r), 7u);
    EXPECT_EQ(stream_seek(r, INT32_MAX, STREAM_SEEK_CURRENT), 7u + INT32_MAX);
    EXPECT_EQ(stream_seek(r, INT32_MAX, STREAM_SEEK_CURRENT), UINT32_MAX); // no wrap to 0
    EXPECT_EQ(read_some(r, 4), "");
    stream_close(r);
    stream_close(inner);
}

TEST(RangeStream, UnreachableWindowTransfersNothing) {
    std::string data = make_bytes(100, 3);
    Stream* memory = stream_open_memory(data.data(), 100, 0, 0, nullptr);
    // A window whose start no signed seek offset can name must not fall
    // back to reading the inner stream's beginning.
    Stream* middle = stream_open_range(memory, 1, 0, UINT32_MAX, 0, nullptr);
    Stream* far = stream_open_range(middle, 1, 0x80000000u, 50, 0, nullptr);
    EXPECT_EQ(read_some(far, 10), "");
    EXPECT_EQ(stream_write(far, "abc", 3), 0u);
    EXPECT_EQ(stream_tell(far), 0u);
    stream_close(far);
}

TEST(RangeStream, CloseReleasesInnerOnlyWhenOwned) {
    CountingAllocator counter;
    std::string data = make_bytes(200, 4);
    Stream* inner = stream_open_memory(data.data(), 200, 0, 0, &counter.base);
    Stream* r = stream_open_range(inner, 0, 50, 20, 0, &counter.base);
    EXPECT_EQ(read_some(r, 8), data.substr(50, 8));
    stream_close(r);
    EXPECT_EQ(counter.live_blocks, 1);
    // The inner stream stays usable, where the range left it.
    EXPECT_EQ(stream_tell(inner), 58u);
    EXPECT_EQ(read_some(inner, 3), data.substr(58, 3));

    r = stream_open_range(inner, 1, 0, 10, 0, &counter.base);
    stream_flush(r);
    stream_close(r);
    EXPECT_EQ(counter.live_blocks, 0);
    EXPECT_EQ(counter.base.used, 0u);
}
