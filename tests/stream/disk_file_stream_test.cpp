#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "stream/test_streams.h"
#include "support/test_support.h"

TEST(DiskFileStream, WholeFilesAndWindows) {
    TempDir dir;
    std::string path = dir.file("data.bin");
    std::string data = make_bytes(100, 11);
    write_whole_file(path, data);

    Stream* s = stream_open_file(path.c_str(), 0, 0, STREAM_OPEN_READ, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(stream_size(s), 100u);
    EXPECT_EQ(stream_state(s), STREAM_STATE_MORE);
    EXPECT_EQ(read_some(s, 100), data);
    EXPECT_EQ(stream_state(s), STREAM_STATE_END);
    EXPECT_EQ(read_some(s, 1), "");
    stream_close(s);

    s = stream_open_file(path.c_str(), 10, 20, STREAM_OPEN_READ, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(read_some(s, 50), data.substr(10, 20));
    EXPECT_EQ(read_some(s, 1), "");
    EXPECT_EQ(stream_seek(s, 0, STREAM_SEEK_END), 20u);
    EXPECT_EQ(stream_seek(s, -5, STREAM_SEEK_CURRENT), 15u);
    EXPECT_EQ(read_some(s, 50), data.substr(25, 5));
    EXPECT_EQ(stream_seek(s, 4, 3), 0u);
    EXPECT_EQ(stream_tell(s), 20u);
    stream_close(s);

    // Windows running past the end are cut to it, also when start + length
    // wraps round 32 bits.
    for (uint32_t length : {20u, 0xFFFFFFFFu}) {
        s = stream_open_file(path.c_str(), 90, length, STREAM_OPEN_READ, nullptr);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(stream_size(s), 10u);
        EXPECT_EQ(read_some(s, 50), data.substr(90));
        stream_close(s);
    }

    EXPECT_EQ(stream_open_file(path.c_str(), 101, 0, STREAM_OPEN_READ, nullptr), nullptr);
    s = stream_open_file(path.c_str(), 100, 0, STREAM_OPEN_READ, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(stream_size(s), 0u);
    EXPECT_EQ(stream_state(s), STREAM_STATE_END);
    stream_close(s);

    // Two windows on one file keep their own places.
    Stream* a = stream_open_file(path.c_str(), 0, 50, STREAM_OPEN_READ, nullptr);
    Stream* b = stream_open_file(path.c_str(), 50, 50, STREAM_OPEN_READ, nullptr);
    EXPECT_EQ(read_some(a, 5), data.substr(0, 5));
    EXPECT_EQ(read_some(b, 5), data.substr(50, 5));
    EXPECT_EQ(read_some(a, 5), data.substr(5, 5));
    stream_close(a);
    stream_close(b);
}

TEST(DiskFileStream, OpenFlags) {
    TempDir dir;
    std::string path = dir.file("flags.bin");
    EXPECT_EQ(stream_open_file(path.c_str(), 0, 0, STREAM_OPEN_READ, nullptr), nullptr);
    EXPECT_FALSE(file_exists(path));
    EXPECT_EQ(stream_open_file(path.c_str(), 0, 0, 0, nullptr), nullptr);
    EXPECT_EQ(stream_open_file(nullptr, 0, 0, STREAM_OPEN_READ, nullptr), nullptr);

    Stream* s = stream_open_file(path.c_str(), 0, 0, STREAM_OPEN_WRITE, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(stream_size(s), 0u);
    EXPECT_EQ(stream_write(s, "0123456789", 10), 10u);
    EXPECT_EQ(stream_seek(s, 0, STREAM_SEEK_BEGIN), 0u);
    EXPECT_EQ(stream_write(s, "abcd", 4), 4u);
    EXPECT_EQ(stream_size(s), 10u);
    stream_close(s);
    EXPECT_EQ(read_whole_file(path), "abcd456789");

    s = stream_open_file(path.c_str(), 0, 0, STREAM_OPEN_READ | STREAM_OPEN_WRITE, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(stream_size(s), 10u);
    EXPECT_EQ(read_some(s, 3), "abc");
    stream_close(s);
    EXPECT_EQ(read_whole_file(path), "abcd456789");

    // A write through a window is not cut to it; the window grows.
    s = stream_open_file(path.c_str(), 6, 2, STREAM_OPEN_READ | STREAM_OPEN_WRITE, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(stream_write(s, "WXYZ!", 5), 5u);
    EXPECT_EQ(stream_size(s), 5u);
    stream_close(s);
    EXPECT_EQ(read_whole_file(path), "abcd45WXYZ!");

    s = stream_open_file(path.c_str(), 0, 0, STREAM_OPEN_WRITE, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(stream_size(s), 0u);
    stream_close(s);
    EXPECT_EQ(read_whole_file(path), "");

    std::string fresh = dir.file("fresh.bin");
    s = stream_open_file(fresh.c_str(), 0, 0, STREAM_OPEN_READ | STREAM_OPEN_WRITE, nullptr);
    ASSERT_NE(s, nullptr);
    stream_close(s);
    EXPECT_TRUE(file_exists(fresh));
}

TEST(DiskFileStream, LoadGivesAnOwningMemoryCopy) {
    TempDir dir;
    std::string path = dir.file("small.txt");
    write_whole_file(path, "hello");
    CountingAllocator counter;
    Stream* s =
        stream_open_file(path.c_str(), 1, 0, STREAM_OPEN_READ | STREAM_OPEN_LOAD, &counter.base);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(counter.live_blocks, 2); // the copy and the memory stream
    // The file is already closed: Windows refuses to delete an open file.
    EXPECT_EQ(std::remove(path.c_str()), 0);
    EXPECT_EQ(stream_size(s), 4u);
    EXPECT_EQ(read_some(s, 10), "ello");
    stream_close(s);
    EXPECT_EQ(counter.live_blocks, 0);
    EXPECT_EQ(counter.base.used, 0u);

    EXPECT_EQ(stream_open_file(path.c_str(), 0, 0, STREAM_OPEN_READ, &counter.base), nullptr);
    EXPECT_EQ(counter.live_blocks, 0);
}

TEST(DiskFileStream, PositionsBeyond2GiBTransferNothing) {
    TempDir dir;
    std::string path = dir.file("wrap.bin");
    write_whole_file(path, "0123456789");
    Stream* s = stream_open_file(path.c_str(), 4, 0, STREAM_OPEN_READ | STREAM_OPEN_WRITE, nullptr);
    ASSERT_NE(s, nullptr);
    // A position before the start wraps to 4 GiB - 1: no write may land at
    // start + position modulo 2^32, which is byte 3.
    EXPECT_EQ(stream_seek(s, -1, STREAM_SEEK_BEGIN), 0xFFFFFFFFu);
    EXPECT_EQ(stream_write(s, "X", 1), 0u);
    EXPECT_EQ(read_some(s, 1), "");
    EXPECT_EQ(stream_seek(s, INT32_MIN, STREAM_SEEK_BEGIN), 0x80000000u);
    EXPECT_EQ(stream_write(s, "X", 1), 0u);
    EXPECT_EQ(stream_size(s), 6u);
    stream_close(s);
    EXPECT_EQ(read_whole_file(path), "0123456789");
}

TEST(DiskFileStream, TwoGiBLimit) {
#ifdef _WIN32
    GTEST_SKIP() << "needs sparse files";
#else
    TempDir dir;
    std::string path = dir.file("big.bin");
    write_whole_file(path, "");
    std::error_code error;
    std::filesystem::resize_file(path, 0x80000000ull, error);
    if (error) {
        GTEST_SKIP() << "cannot make a sparse file here";
    }
    EXPECT_EQ(stream_open_file(path.c_str(), 0, 0, STREAM_OPEN_READ, nullptr), nullptr);
    std::filesystem::resize_file(path, 0x100000005ull, error); // low word would say 5
    EXPECT_EQ(stream_open_file(path.c_str(), 0, 0, STREAM_OPEN_READ, nullptr), nullptr);

    std::filesystem::resize_file(path, 0x7FFFFFF6ull, error);
    Stream* s = stream_open_file(path.c_str(), 0, 0, STREAM_OPEN_READ | STREAM_OPEN_WRITE, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(stream_seek(s, 0, STREAM_SEEK_END), 0x7FFFFFF6u);
    EXPECT_EQ(stream_write(s, "0123456789ABCDEFGHIJ", 20), 9u);
    EXPECT_EQ(stream_size(s), 0x7FFFFFFFu);
    EXPECT_EQ(stream_write(s, "K", 1), 0u);
    stream_close(s);
    EXPECT_EQ(std::filesystem::file_size(path), 0x7FFFFFFFull);

    // Still below the limit: it opens again and reads back.
    s = stream_open_file(path.c_str(), 0x7FFFFFF6u, 0, STREAM_OPEN_READ, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(read_some(s, 20), "012345678");
    stream_close(s);
#endif
}
