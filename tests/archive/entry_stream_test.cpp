#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "archive/archive_fs.h"
#include "stream/test_streams.h"
#include "support/test_support.h"

namespace {

// Deflates `data` through an entry stream into a string, written in pieces
// of `chunk` bytes, finished by close alone or by flush then close.
std::string deflate_entry(const std::string& data, uint32_t chunk, bool flush_first) {
    std::string out(data.size() + 4096, '\0');
    Stream* memory = stream_open_memory(out.data(), uint32_t(out.size()), 0, 0, nullptr);
    Stream* window = stream_open_range(memory, 0, 0, uint32_t(out.size()), 0, nullptr);
    Stream* e = stream_open_entry(window, 0, ENTRY_MODE_DEFLATE, nullptr);
    EXPECT_NE(e, nullptr);
    for (uint32_t at = 0; at < data.size(); at += chunk) {
        uint32_t n = std::min<uint32_t>(chunk, uint32_t(data.size()) - at);
        EXPECT_EQ(stream_write(e, data.data() + at, n), n);
    }
    EXPECT_EQ(stream_size(e), data.size());
    EXPECT_EQ(stream_state(e), STREAM_STATE_MORE);
    if (flush_first) {
        stream_flush(e);
        uint32_t finished_at = stream_tell(memory);
        stream_flush(e);
        EXPECT_EQ(stream_write(e, "late", 4), 0u); // finished: nothing more is taken
        stream_close(e);
        EXPECT_EQ(stream_tell(memory), finished_at); // neither added a byte
    } else {
        stream_close(e);
    }
    out.resize(stream_tell(memory));
    stream_close(memory);
    return out;
}

// Opens `stored` for inflating to `size` bytes and reads it in `chunk`-byte
// calls until the stream reports its end.
struct Inflated {
    std::string bytes;
    bool intact;
    bool ended_with_last_byte;
};
Inflated inflate_entry(std::string stored, uint32_t size, uint32_t chunk) {
    Stream* memory = stream_open_memory(stored.data(), uint32_t(stored.size()), 0, 0, nullptr);
    Stream* e = stream_open_entry(memory, size, ENTRY_MODE_INFLATE, nullptr);
    Inflated result{};
    std::string buffer(chunk, '\0');
    int calls = 0;
    while (stream_state(e) != STREAM_STATE_END && calls++ < 100000) {
        uint32_t n = stream_read(e, buffer.data(), chunk);
        result.bytes.append(buffer.data(), n);
        result.ended_with_last_byte = n > 0 && stream_state(e) == STREAM_STATE_END;
    }
    EXPECT_EQ(stream_read(e, buffer.data(), chunk), 0u);
    EXPECT_EQ(stream_tell(e), result.bytes.size());
    result.intact = entry_stream_intact(e);
    stream_close(e);
    return result;
}

// True when `stored` is one complete zlib stream of `data` and nothing else.
bool is_single_zlib_stream(const std::string& stored, const std::string& data) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        return false;
    }
    std::string out(data.size() + 1, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stored.data()));
    z.avail_in = uInt(stored.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    int result = inflate(&z, Z_FINISH);
    bool single = result == Z_STREAM_END && z.avail_in == 0 && z.total_out == data.size() &&
                  out.compare(0, data.size(), data) == 0;
    inflateEnd(&z);
    return single;
}

} // namespace

TEST(EntryStream, DeflateWritesOneZlibStreamAtLevel5) {
    for (const std::string& data :
         {make_bytes(100000, 1), make_bytes(20000, 2, false), std::string()}) {
        std::string flushed = deflate_entry(data, 7000, true);
        EXPECT_TRUE(is_single_zlib_stream(flushed, data)) << data.size();
        EXPECT_EQ(deflate_entry(data, 333, false), flushed); // close alone finishes too

        // The same bytes as zlib's own level-5 compression.
        std::string expected(compressBound(uLong(data.size())), '\0');
        uLongf expected_size = uLongf(expected.size());
        ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(expected.data()), &expected_size,
                            reinterpret_cast<const Bytef*>(data.data()), uLong(data.size()), 5),
                  Z_OK);
        expected.resize(expected_size);
        EXPECT_EQ(flushed, expected);
    }
}

TEST(EntryStream, InflateRoundTripDeliversExactlyTheRecordSize) {
    std::string data = make_bytes(50000, 3);
    std::string stored = deflate_entry(data, 50000, true);
    for (uint32_t chunk : {1u, 2047u, 4096u, 100000u}) {
        Inflated got = inflate_entry(stored, uint32_t(data.size()), chunk);
        EXPECT_EQ(got.bytes, data) << chunk;
        EXPECT_TRUE(got.intact) << chunk;
        EXPECT_TRUE(got.ended_with_last_byte) << chunk;
    }

    // Bytes after the zlib stream carry no meaning.
    Inflated padded = inflate_entry(stored + std::string(40, '\x5A'), uint32_t(data.size()), 4096);
    EXPECT_EQ(padded.bytes, data);
    EXPECT_TRUE(padded.intact);

    // A record that claims less than the stream holds: never more than its
    // size, and not intact.
    Inflated capped = inflate_entry(stored, 30000, 100000);
    EXPECT_EQ(capped.bytes, data.substr(0, 30000));
    EXPECT_FALSE(capped.intact);
    Inflated one_short = inflate_entry(stored, uint32_t(data.size()) - 1, 100000);
    EXPECT_EQ(one_short.bytes.size(), data.size() - 1);
    EXPECT_FALSE(one_short.intact);

    // A record that claims more than the stream holds ends early.
    Inflated longer = inflate_entry(stored, uint32_t(data.size()) + 10, 4096);
    EXPECT_EQ(longer.bytes, data);
    EXPECT_FALSE(longer.intact);

    std::string empty_stored = deflate_entry("", 1, true);
    Inflated empty = inflate_entry(empty_stored, 0, 16);
    EXPECT_EQ(empty.bytes, "");
    EXPECT_TRUE(empty.intact);
}

TEST(EntryStream, DamagedDataEndsEarlyAndIsNotIntact) {
    std::string data = make_bytes(40000, 4, false);
    std::string stored = deflate_entry(data, 40000, true);
    uint32_t size = uint32_t(data.size());

    Inflated truncated = inflate_entry(stored.substr(0, stored.size() / 2), size, 4096);
    EXPECT_LT(truncated.bytes.size(), data.size());
    EXPECT_EQ(truncated.bytes, data.substr(0, truncated.bytes.size()));
    EXPECT_FALSE(truncated.intact);

    Inflated no_trailer = inflate_entry(stored.substr(0, stored.size() - 2), size, 4096);
    EXPECT_EQ(no_trailer.bytes, data);
    EXPECT_FALSE(no_trailer.intact);

    std::string bad_adler = stored;
    bad_adler.back() = char(bad_adler.back() ^ 1);
    Inflated adler = inflate_entry(bad_adler, size, 4096);
    EXPECT_EQ(adler.bytes, data);
    EXPECT_FALSE(adler.intact);

    std::string corrupt = stored;
    for (size_t i = 100; i < 140; ++i) {
        corrupt[i] = char(~corrupt[i]);
    }
    Inflated broken = inflate_entry(corrupt, size, 4096);
    EXPECT_LE(broken.bytes.size(), data.size());
    EXPECT_FALSE(broken.intact);

    Inflated not_zlib = inflate_entry("this is not a zlib stream", size, 4096);
    EXPECT_EQ(not_zlib.bytes, "");
    EXPECT_FALSE(not_zlib.intact);
    Inflated nothing = inflate_entry("", size, 4096);
    EXPECT_EQ(nothing.bytes, "");
    EXPECT_FALSE(nothing.intact);
}

// What zlib gives from `stored` in a single call, at most `limit` bytes.
std::string inflate_at_once(const std::string& stored, uint32_t limit) {
    z_stream z{};
    EXPECT_EQ(inflateInit(&z), Z_OK);
    std::string out(limit, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stored.data()));
    z.avail_in = uInt(stored.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    inflate(&z, Z_NO_FLUSH);
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

// A cut-short stream may end inside a long match: zlib has then taken all
// the input but still owes output, which must be delivered whatever the
// sizes of the reads.
TEST(EntryStream, TruncatedDataGivesTheSameBytesForAnyReadSize) {
    std::string data = "header line\r\n" + std::string(3000, 'x') + "tail" +
                       std::string(2000, 'y') + make_bytes(300, 9, false);
    std::string stored = deflate_entry(data, uint32_t(data.size()), true);
    uint32_t size = uint32_t(data.size());
    for (size_t cut = 0; cut < stored.size(); ++cut) {
        std::string part = stored.substr(0, cut);
        std::string expected = inflate_at_once(part, size);
        for (uint32_t chunk : {1u, 7u, 100u, 612u, 4096u}) {
            Inflated got = inflate_entry(part, size, chunk);
            ASSERT_EQ(got.bytes, expected) << "cut " << cut << ", reads of " << chunk;
            EXPECT_FALSE(got.intact);
        }
    }
}

TEST(EntryStream, ScrambledChainRoundTrip) {
    std::string data = make_bytes(9000, 5);
    std::string stored(20000, '\0');
    Stream* out = stream_open_memory(stored.data(), uint32_t(stored.size()), 0, 0, nullptr);
    Stream* window = stream_open_range(out, 0, 0, uint32_t(stored.size()), 0, nullptr);
    Stream* chain = stream_open_entry(stream_open_scramble(window, test_key(), 256, 1024, nullptr),
                                      0, ENTRY_MODE_DEFLATE, nullptr);
    EXPECT_EQ(stream_write(chain, data.data(), uint32_t(data.size())), data.size());
    stream_close(chain);
    stored.resize(stream_tell(out));
    stream_close(out);

    Stream* in = stream_open_memory(stored.data(), uint32_t(stored.size()), 0, 0, nullptr);
    chain = stream_open_entry(stream_open_scramble(in, test_key(), 256, 1024, nullptr),
                              uint32_t(data.size()), ENTRY_MODE_INFLATE, nullptr);
    std::string got(data.size() + 100, '\0');
    got.resize(stream_read(chain, got.data(), uint32_t(got.size())));
    EXPECT_EQ(got, data);
    EXPECT_EQ(stream_state(chain), STREAM_STATE_END);
    EXPECT_TRUE(entry_stream_intact(chain));
    stream_close(chain);
}

TEST(EntryStream, ShortInnerWritesAreReportedAsFailure) {
    CountingAllocator counter;
    std::string data = make_bytes(200000, 6, false);
    char small[100];

    // Fails while writing: the call reports a short count.
    Stream* e = stream_open_entry(stream_open_memory(small, sizeof small, 0, 0, &counter.base), 0,
                                  ENTRY_MODE_DEFLATE, &counter.base);
    ASSERT_NE(e, nullptr);
    EXPECT_FALSE(entry_stream_failed(e));
    EXPECT_LT(stream_write(e, data.data(), uint32_t(data.size())), data.size());
    EXPECT_TRUE(entry_stream_failed(e));
    EXPECT_EQ(stream_write(e, data.data(), 10), 0u);
    stream_close(e);
    EXPECT_EQ(counter.live_blocks, 0);

    // Fails only when finishing.
    e = stream_open_entry(stream_open_memory(small, sizeof small, 0, 0, &counter.base), 0,
                          ENTRY_MODE_DEFLATE, &counter.base);
    EXPECT_EQ(stream_write(e, data.data(), 500), 500u);
    EXPECT_FALSE(entry_stream_failed(e));
    stream_flush(e);
    EXPECT_TRUE(entry_stream_failed(e));
    EXPECT_FALSE(entry_stream_intact(e));
    stream_close(e);
    EXPECT_EQ(counter.live_blocks, 0);
    EXPECT_EQ(counter.base.used, 0u);
}

TEST(EntryStream, ConstructionModesAndQueries) {
    CountingAllocator counter;
    char bytes[16] = {};
    Stream* inner = stream_open_memory(bytes, sizeof bytes, 0, 0, &counter.base);
    EXPECT_EQ(stream_open_entry(inner, 0, 3, &counter.base), nullptr);
    EXPECT_EQ(stream_open_entry(inner, 0, 0, &counter.base), nullptr);
    EXPECT_EQ(stream_open_entry(nullptr, 0, ENTRY_MODE_INFLATE, &counter.base), nullptr);
    EXPECT_EQ(counter.live_blocks, 1); // only the inner stream, which stays the caller's
    EXPECT_FALSE(entry_stream_intact(inner));
    EXPECT_FALSE(entry_stream_failed(inner));
    EXPECT_FALSE(entry_stream_intact(nullptr));

    Stream* e = stream_open_entry(inner, 16, ENTRY_MODE_INFLATE, &counter.base);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(stream_size(e), 16u);
    EXPECT_EQ(stream_state(e), STREAM_STATE_MORE);
    EXPECT_EQ(stream_write(e, "x", 1), 0u);
    EXPECT_EQ(stream_seek(e, 5, STREAM_SEEK_BEGIN), 0u);
    EXPECT_FALSE(entry_stream_failed(e));
    stream_close(e); // takes the inner stream and the buffer along
    EXPECT_EQ(counter.live_blocks, 0);

    e = stream_open_entry(stream_open_memory(bytes, sizeof bytes, 0, 0, &counter.base), 0,
                          ENTRY_MODE_DEFLATE, &counter.base);
    char out[4];
    EXPECT_EQ(stream_read(e, out, 4), 0u);
    EXPECT_EQ(stream_write(e, "abc", 3), 3u);
    EXPECT_EQ(stream_seek(e, 0, STREAM_SEEK_BEGIN), 3u);
    EXPECT_EQ(stream_tell(e), 3u);
    EXPECT_FALSE(entry_stream_intact(e));
    stream_close(e);
    EXPECT_EQ(counter.live_blocks, 0);
    EXPECT_EQ(counter.base.used, 0u);
}
