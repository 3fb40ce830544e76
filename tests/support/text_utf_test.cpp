#include <gtest/gtest.h>

#include <cstring>

#include "support/text.h"

TEST(Utf16ToUtf8, EncodesOneTwoAndThreeByteForms) {
    char out[16];
    const uint16_t e_acute[] = {0x00E9, 0};
    EXPECT_EQ(utf16_to_utf8(out, 16, e_acute), 2u);
    EXPECT_STREQ(out, "\xC3\xA9");

    const uint16_t mixed[] = {'A', 0x07FF, 0x0800, 0x30BD, 0xFFFF, 0};
    EXPECT_EQ(utf16_to_utf8(out, 16, mixed), 12u);
    EXPECT_STREQ(out, "A\xDF\xBF\xE0\xA0\x80\xE3\x82\xBD\xEF\xBF\xBF");

    // Surrogates are not combined: each becomes its own three bytes.
    const uint16_t pair[] = {0xD83D, 0xDE00, 0};
    EXPECT_EQ(utf16_to_utf8(out, 16, pair), 6u);
    EXPECT_STREQ(out, "\xED\xA0\xBD\xED\xB8\x80");

    const uint16_t empty[] = {0};
    EXPECT_EQ(utf16_to_utf8(out, 16, empty), 0u);
    EXPECT_STREQ(out, "");
}

TEST(Utf16ToUtf8, NeverWritesPastTheCapacity) {
    const uint16_t text[] = {0x30BD, 0x30BD, 'a', 'b', 'c', 0};
    char out[8];

    std::memset(out, '#', sizeof out);
    EXPECT_EQ(utf16_to_utf8(out, 4, text), 3u);
    EXPECT_STREQ(out, "\xE3\x82\xBD");
    EXPECT_EQ(out[4], '#');

    std::memset(out, '#', sizeof out);
    EXPECT_EQ(utf16_to_utf8(out, 3, text), 0u);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(out[1], '#');

    std::memset(out, '#', sizeof out);
    EXPECT_EQ(utf16_to_utf8(out, 0, text), 0u);
    EXPECT_EQ(out[0], '#');

    // Conversion goes on while fewer than capacity - 3 bytes are written.
    const uint16_t ascii[] = {'a', 'b', 'c', 'd', 'e', 'f', 0};
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(utf16_to_utf8(out, 6, ascii), 3u);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(out[4], '#');
}

TEST(Utf8ToUtf16, DecodesAndCountsPositions) {
    uint16_t out[16];
    EXPECT_EQ(utf8_to_utf16(out, 16, "A\xC3\xA9\xE3\x82\xBD"), 3u);
    EXPECT_EQ(out[0], u'A');
    EXPECT_EQ(out[1], 0x00E9);
    EXPECT_EQ(out[2], 0x30BD);
    EXPECT_EQ(out[3], 0);

    // Overlong forms are accepted; bytes that cannot lead use one position each.
    EXPECT_EQ(utf8_to_utf16(out, 16,
                            "\xC0\x81"
                            "\x80"
                            "\xF0"
                            "b"),
              4u);
    EXPECT_EQ(out[0], 0x0001);
    EXPECT_EQ(out[3], u'b');
    EXPECT_EQ(out[4], 0);

    // Round trip through both converters.
    const uint16_t wide[] = {0x30C6, 0x30B9, 0x30C8, '1', 0x00FC, 0};
    char narrow[32];
    utf16_to_utf8(narrow, sizeof narrow, wide);
    EXPECT_EQ(utf8_to_utf16(out, 16, narrow), 5u);
    EXPECT_EQ(std::memcmp(out, wide, sizeof wide), 0);
}

TEST(Utf8ToUtf16, StopsAtTheTerminatorEvenInsideASequence) {
    // Each text is followed by bytes that would be decoded were the NUL
    // overlooked; the buffer copy keeps them right after it.
    const char two[] = "a\xC3\0\xA9zz";
    const char three_short[] = "\xE3\x82\0\xBDzz";
    const char three_shorter[] = "\xE3\0\x82\xBDzz";
    uint16_t out[8];
    EXPECT_EQ(utf8_to_utf16(out, 8, two), 1u);
    EXPECT_EQ(out[0], u'a');
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(utf8_to_utf16(out, 8, three_short), 0u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(utf8_to_utf16(out, 8, three_shorter), 0u);
    EXPECT_EQ(out[0], 0);
}

TEST(Utf8ToUtf16, NeverWritesPastTheCapacity) {
    uint16_t out[6];
    for (uint16_t& u : out) {
        u = 0xAAAA;
    }
    EXPECT_EQ(utf8_to_utf16(out, 3, "abcdef"), 2u);
    EXPECT_EQ(out[0], u'a');
    EXPECT_EQ(out[1], u'b');
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 0xAAAA);

    EXPECT_EQ(utf8_to_utf16(out, 1, "abc"), 0u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], u'b');

    out[0] = 0xAAAA;
    EXPECT_EQ(utf8_to_utf16(out, 0, "abc"), 0u);
    EXPECT_EQ(out[0], 0xAAAA);
}
