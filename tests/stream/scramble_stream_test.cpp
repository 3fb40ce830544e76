#include <gtest/gtest.h>

#include <string>

#include "stream/test_streams.h"
#include "support/test_support.h"

namespace {

std::string xor_first(std::string bytes, uint32_t from, uint32_t limit) {
    const unsigned char* key = test_key();
    for (uint32_t p = from; p < limit && p - from < bytes.size(); ++p) {
        bytes[p - from] = char(bytes[p - from] ^ key[p % 256]);
    }
    return bytes;
}

} // namespace

TEST(ScrambleStream, WriteScramblesBelowTheLimitOnly) {
    std::string plain = make_bytes(2000, 5, false);
    const std::string original = plain;
    std::string stored(2000, '\0');
    Stream* inner = stream_open_memory(stored.data(), 2000, 0, 0, nullptr);
    Stream* s = stream_open_scramble(inner, test_key(), 256, 1024, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(stream_write(s, plain.data(), 2000), 2000u);
    EXPECT_EQ(plain, original); // the caller's bytes are not touched
    EXPECT_EQ(stored.substr(0, 1024), xor_first(original.substr(0, 1024), 0, 1024));
    EXPECT_EQ(stored.substr(1024), original.substr(1024));
    EXPECT_EQ(stream_tell(s), 2000u);
    EXPECT_EQ(stream_size(s), 2000u);
    EXPECT_EQ(stream_state(s), STREAM_STATE_END);

    // Written in odd pieces across the limit: the same stored bytes.
    std::string again(2000, '\0');
    Stream* s2 = stream_open_scramble(stream_open_memory(again.data(), 2000, 0, 0, nullptr),
                                      test_key(), 256, 1024, nullptr);
    for (uint32_t at = 0; at < 2000; at += 7) {
        uint32_t n = 2000 - at < 7 ? 2000 - at : 7;
        ASSERT_EQ(stream_write(s2, original.data() + at, n), n);
    }
    EXPECT_EQ(again, stored);
    stream_close(s2);
    stream_close(s);
}

TEST(ScrambleStream, ReadBackInAnyChunking) {
    std::string original = make_bytes(3000, 6, false);
    std::string stored = xor_first(original, 0, 1024);
    for (uint32_t chunk : {1u, 7u, 1000u, 1024u, 4096u}) {
        Stream* s = stream_open_scramble(stream_open_memory(stored.data(), 3000, 0, 0, nullptr),
                                         test_key(), 256, 1024, nullptr);
        std::string got;
        char buffer[4096];
        while (stream_state(s) != STREAM_STATE_END) {
            uint32_t n = stream_read(s, buffer, chunk);
            ASSERT_GT(n, 0u);
            got.append(buffer, n);
        }
        EXPECT_EQ(got, original) << "chunk " << chunk;
        stream_close(s);
    }

    // Seeking keeps the key index in step with the position.
    Stream* s = stream_open_scramble(stream_open_memory(stored.data(), 3000, 0, 0, nullptr),
                                     test_key(), 256, 1024, nullptr);
    char buffer[64];
    EXPECT_EQ(stream_seek(s, 1000, STREAM_SEEK_BEGIN), 1000u);
    EXPECT_EQ(stream_seek(s, 5, 3), 0u); // unknown origin moves nothing
    EXPECT_EQ(stream_tell(s), 1000u);
    ASSERT_EQ(stream_read(s, buffer, 64), 64u);
    EXPECT_EQ(std::string(buffer, 64), original.substr(1000, 64));
    stream_close(s);
}

TEST(ScrambleStream, ShortStreamsAndAbsentKeys) {
    std::string original = make_bytes(300, 7, false);
    std::string stored(300, '\0');
    Stream* s = stream_open_scramble(stream_open_memory(stored.data(), 300, 0, 0, nullptr),
                                     test_key(), 256, 1024, nullptr);
    EXPECT_EQ(stream_write(s, original.data(), 300), 300u);
    EXPECT_EQ(stored, xor_first(original, 0, 300)); // every byte scrambled
    stream_close(s);

    // No key, or a key of length 0 that cannot be indexed: bytes pass as they are.
    struct {
        const unsigned char* key;
        uint32_t length;
    } absent[] = {{nullptr, 256}, {test_key(), 0}};
    for (auto [key, key_length] : absent) {
        std::string plain(300, '\0');
        s = stream_open_scramble(stream_open_memory(plain.data(), 300, 0, 0, nullptr), key,
                                 key_length, 1024, nullptr);
        EXPECT_EQ(stream_write(s, original.data(), 300), 300u);
        EXPECT_EQ(plain, original);
        stream_close(s);
    }
}

TEST(ScrambleStream, ShortInnerWritesNeverStorePlainBytesBelowTheLimit) {
    std::string original = make_bytes(2000, 8, false);
    std::string stored(2000, '\0');
    Stream* memory = stream_open_memory(stored.data(), 2000, 0, 0, nullptr);
    ShortWriteStream capped(memory, 300);
    Stream* s = stream_open_scramble(capped.stream(), test_key(), 256, 1024, nullptr);
    uint32_t first = stream_write(s, original.data(), 2000);
    EXPECT_EQ(first, 300u);
    EXPECT_EQ(stream_tell(s), 300u);
    // The caller goes on from where the count says.
    uint32_t at = first;
    while (at < 2000) {
        uint32_t n = stream_write(s, original.data() + at, 2000 - at);
        ASSERT_GT(n, 0u);
        at += n;
    }
    EXPECT_EQ(stored, xor_first(original, 0, 1024));
    stream_close(s); // closing the capped stream releases nothing
    stream_close(memory);
}

TEST(ScrambleStream, CloseTakesTheInnerStreamAlong) {
    CountingAllocator counter;
    char bytes[8] = {};
    Stream* inner = stream_open_memory(bytes, 8, 0, 0, &counter.base);
    Stream* s = stream_open_scramble(inner, test_key(), 256, 1024, &counter.base);
    EXPECT_EQ(counter.live_blocks, 2);
    stream_close(s);
    EXPECT_EQ(counter.live_blocks, 0);
    EXPECT_EQ(counter.base.used, 0u);
}
