#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "stream/stream.h"
#include "support/test_doubles.h"

namespace {

// A stream over a byte string that counts its calls. It can be told to
// report more data than it delivers, as a misbehaving kind might.
struct FakeData {
    std::string bytes;
    uint32_t position = 0;
    uint32_t reads = 0;
    uint32_t largest_read = 0;
    bool lies_about_state = false;
    std::vector<std::string> writes;
};

// Kept standard-layout so that a Stream* converts back to the whole object.
struct FakeStream {
    Stream base;
    FakeData* data;
};
static_assert(std::is_standard_layout_v<FakeStream>);

FakeData* fake(Stream* s) {
    return reinterpret_cast<FakeStream*>(s)->data;
}

void fake_close(Stream*) {}

uint32_t fake_read(Stream* s, void* buffer, uint32_t count) {
    FakeData* f = fake(s);
    ++f->reads;
    if (count > f->largest_read) {
        f->largest_read = count;
    }
    uint32_t left = static_cast<uint32_t>(f->bytes.size()) - f->position;
    uint32_t n = count < left ? count : left;
    std::memcpy(buffer, f->bytes.data() + f->position, n);
    f->position += n;
    return n;
}

uint32_t fake_write(Stream* s, const void* buffer, uint32_t count) {
    fake(s)->writes.emplace_back(static_cast<const char*>(buffer), count);
    return count;
}

void fake_flush(Stream*) {}
uint32_t fake_seek(Stream*, int32_t, int) {
    return 0;
}
uint32_t fake_tell(Stream* s) {
    return fake(s)->position;
}
uint32_t fake_size(Stream* s) {
    return static_cast<uint32_t>(fake(s)->bytes.size());
}

uint32_t fake_state(Stream* s) {
    FakeData* f = fake(s);
    if (f->lies_about_state) {
        return STREAM_STATE_MORE;
    }
    return f->position < f->bytes.size() ? STREAM_STATE_MORE : STREAM_STATE_END;
}

const StreamOps fake_ops = {fake_close, fake_read, fake_write, fake_flush,
                            fake_seek,  fake_tell, fake_size,  fake_state};

struct FakeFile {
    FakeData f;
    FakeStream s{{&fake_ops}, &f};
    explicit FakeFile(const std::string& bytes) { f.bytes = bytes; }
    FakeFile(const FakeFile&) = delete;
    Stream* stream() { return &s.base; }
};

} // namespace

TEST(ReadLine, LinesEndOnlyAtCrLf) {
    char buffer[256];
    FakeFile two("ab\r\ncd");
    EXPECT_EQ(read_line(two.stream(), buffer, sizeof buffer), 2u);
    EXPECT_STREQ(buffer, "ab");
    EXPECT_EQ(read_line(two.stream(), buffer, sizeof buffer), 2u);
    EXPECT_STREQ(buffer, "cd");
    EXPECT_EQ(stream_state(two.stream()), STREAM_STATE_END);
    EXPECT_EQ(read_line(two.stream(), buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "");

    FakeFile lone_lf("ab\ncd\r\n");
    EXPECT_EQ(read_line(lone_lf.stream(), buffer, sizeof buffer), 5u);
    EXPECT_STREQ(buffer, "ab\ncd");
    EXPECT_EQ(stream_state(lone_lf.stream()), STREAM_STATE_END);

    FakeFile lone_cr("a\rb\r\n");
    EXPECT_EQ(read_line(lone_cr.stream(), buffer, sizeof buffer), 2u);
    EXPECT_STREQ(buffer, "ab");

    // An empty line reads as 0 just like the end; only state tells them apart.
    FakeFile empty_line("\r\nx");
    EXPECT_EQ(read_line(empty_line.stream(), buffer, sizeof buffer), 0u);
    EXPECT_EQ(stream_state(empty_line.stream()), STREAM_STATE_MORE);
    EXPECT_EQ(read_line(empty_line.stream(), buffer, sizeof buffer), 1u);
    EXPECT_STREQ(buffer, "x");
}

TEST(ReadLine, LongLinesContinueAsTheNextLine) {
    char buffer[4];
    FakeFile file("abcdef\r\ngh\r\n");
    EXPECT_EQ(read_line(file.stream(), buffer, 4), 3u);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(read_line(file.stream(), buffer, 4), 3u);
    EXPECT_STREQ(buffer, "def");
    EXPECT_EQ(read_line(file.stream(), buffer, 4), 0u); // the CR LF itself
    EXPECT_EQ(read_line(file.stream(), buffer, 4), 2u);
    EXPECT_STREQ(buffer, "gh");
    EXPECT_EQ(stream_state(file.stream()), STREAM_STATE_END);

    // A cut may fall between a CR and its byte: the pair still reads as one.
    FakeFile split("ab\rc\r\n");
    EXPECT_EQ(read_line(split.stream(), buffer, 3), 2u);
    EXPECT_STREQ(buffer, "ab");
    EXPECT_EQ(read_line(split.stream(), buffer, 3), 1u);
    EXPECT_STREQ(buffer, "c");
}

TEST(ReadLine, TinyBuffersAndNullsWriteOnlyWhatFits) {
    FakeFile file("abc\r\n");
    char buffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(read_line(file.stream(), buffer, 1), 0u);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'x');
    EXPECT_EQ(file.f.position, 0u); // nothing consumed

    buffer[0] = 'x';
    EXPECT_EQ(read_line(file.stream(), buffer, 0), 0u);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(read_line(file.stream(), nullptr, 16), 0u);
    EXPECT_EQ(file.f.reads, 0u);
}

TEST(ReadLine, ReadsOneByteAtATimeAndKeepsNulBytes) {
    FakeFile file(std::string("a\0b\r\nz", 6));
    char buffer[16];
    EXPECT_EQ(read_line(file.stream(), buffer, sizeof buffer), 3u);
    EXPECT_EQ(std::memcmp(buffer, "a\0b", 4), 0);
    EXPECT_EQ(file.f.largest_read, 1u);
    EXPECT_EQ(file.f.position, 5u); // the next line is left in the stream
}

TEST(ReadLine, StopsWhenTheStreamDeliversNothing) {
    char buffer[16];
    // A stream that claims more data forever must not make the reader spin
    // or store bytes it never received.
    FakeFile liar("ab");
    liar.f.lies_about_state = true;
    EXPECT_EQ(read_line(liar.stream(), buffer, sizeof buffer), 2u);
    EXPECT_STREQ(buffer, "ab");
    EXPECT_EQ(read_line(liar.stream(), buffer, sizeof buffer), 0u);

    // A CR that is the very last byte is kept rather than lost.
    FakeFile trailing_cr("ab\r");
    EXPECT_EQ(read_line(trailing_cr.stream(), buffer, sizeof buffer), 3u);
    EXPECT_STREQ(buffer, "ab\r");
}

TEST(WriteLine, WritesTextThenCrLfAndReturnsTheTextCount) {
    FakeFile file("");
    EXPECT_EQ(write_line(file.stream(), "key=value"), 9u);
    ASSERT_EQ(file.f.writes.size(), 2u);
    EXPECT_EQ(file.f.writes[0], "key=value");
    EXPECT_EQ(file.f.writes[1], "\r\n");

    file.f.writes.clear();
    ShortWriteStream short_file(file.stream(), 4); // a short write shows in the result
    EXPECT_EQ(write_line(short_file.stream(), "key=value"), 4u);

    file.f.writes.clear();
    EXPECT_EQ(write_line(file.stream(), ""), 0u);
    ASSERT_EQ(file.f.writes.size(), 2u);
    EXPECT_EQ(file.f.writes[1], "\r\n");
}
