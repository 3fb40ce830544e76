#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>

#include "support/text.h"

TEST(RectIntersect, KeepsTheOverlapOrClearsTheRectangle) {
    Rect a{0, 0, 10, 10};
    Rect b{5, -5, 20, 8};
    rect_intersect(&a, &b);
    EXPECT_EQ(b.left, 5);
    EXPECT_EQ(b.top, 0);
    EXPECT_EQ(b.right, 10);
    EXPECT_EQ(b.bottom, 8);

    Rect negative{-20, -20, -5, -5};
    Rect inside{-10, -30, 0, -8};
    rect_intersect(&negative, &inside);
    EXPECT_EQ(inside.left, -10);
    EXPECT_EQ(inside.top, -20);
    EXPECT_EQ(inside.right, -5);
    EXPECT_EQ(inside.bottom, -8);

    Rect touching{10, 0, 20, 10}; // shares only an edge with a
    rect_intersect(&a, &touching);
    EXPECT_EQ(touching.left | touching.top | touching.right | touching.bottom, 0);

    Rect apart{0, 20, 10, 30};
    rect_intersect(&a, &apart);
    EXPECT_EQ(apart.left | apart.top | apart.right | apart.bottom, 0);
}

TEST(Colour, FloatConversionsTruncateAndClamp) {
    EXPECT_EQ(color_from_floats(0.0f, 1.0f, 0.5f, 1.0f), 0xFF7FFF00u);
    EXPECT_EQ(color_from_floats(-0.5f, 2.0f, 0.999f, 0.0f), 0x00FEFF00u);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(color_from_floats(inf, -inf, nan, 1e30f), 0xFF0000FFu);

    // Alpha is left as it is; the three colour channels are scaled.
    EXPECT_EQ(color_scale(0x80402010u, 2.0f), 0x80804020u);
    EXPECT_EQ(color_scale(0x80FF8001u, 1.5f), 0x80FFC001u);
    EXPECT_EQ(color_scale(0x11223344u, -1.0f), 0x11000000u);
    EXPECT_EQ(color_scale(0x11223344u, nan), 0x11000000u);
}

TEST(Colour, ModulateAndPackWorkPerByte) {
    EXPECT_EQ(color_modulate(0xFFFFFFFFu, 0x12345678u), 0x12345678u);
    EXPECT_EQ(color_modulate(0x80808080u, 0x80808080u), 0x40404040u);
    EXPECT_EQ(color_modulate(0x00FF00FFu, 0xFF00FF00u), 0u);

    EXPECT_EQ(color_pack(1, 2, 3, 4), 0x04030201u);
    EXPECT_EQ(color_pack(256, 0xFFFFFFFFu, 255, 1000), 0xFFFFFFFFu);
}

TEST(Time, NowAndUtcConversion) {
    int64_t stored = -1;
    int64_t now = time_now(&stored);
    EXPECT_EQ(now, stored);
    EXPECT_GT(now, 1600000000); // after September 2020
    EXPECT_GT(time_now(nullptr), 0);

    const int64_t moment = 1700000000; // 2023-11-14 22:13:20 UTC
    struct tm* utc = time_to_utc(&moment);
    ASSERT_NE(utc, nullptr);
    EXPECT_EQ(utc->tm_year, 123);
    EXPECT_EQ(utc->tm_mon, 10);
    EXPECT_EQ(utc->tm_mday, 14);
    EXPECT_EQ(utc->tm_hour, 22);
    EXPECT_EQ(utc->tm_min, 13);
    EXPECT_EQ(utc->tm_sec, 20);

    EXPECT_EQ(time_to_utc(nullptr), nullptr);
    const int64_t far = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(time_to_utc(&far), nullptr);
}

TEST(Time, FormatUtcTimeFitsOrGivesNothing) {
    char out[64];
    uint32_t n = format_utc_time(out, sizeof out, "%Y-%m-%d");
    EXPECT_EQ(n, 10u);
    EXPECT_EQ(std::strlen(out), 10u);
    EXPECT_EQ(out[4], '-');

    std::memset(out, '#', sizeof out);
    EXPECT_EQ(format_utc_time(out, 4, "%Y-%m-%d"), 0u);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(out[4], '#');

    out[0] = '#';
    EXPECT_EQ(format_utc_time(out, 0, "%Y"), 0u);
    EXPECT_EQ(out[0], '#');
}
