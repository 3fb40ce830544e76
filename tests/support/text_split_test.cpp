#include <gtest/gtest.h>

#include <cstring>

#include "support/text.h"

TEST(SplitText, KeyValueLinesCutAtTheSeparator) {
    char line[] = "identifer=abc";
    char* pieces[64];
    ASSERT_EQ(split_text(line, '=', pieces, 64), 2u);
    EXPECT_STREQ(pieces[0], "identifer");
    EXPECT_STREQ(pieces[1], "abc");
    EXPECT_EQ(pieces[0], line); // in place, not copied

    char spaced[] = "version = 1";
    ASSERT_EQ(split_text(spaced, '=', pieces, 64), 2u);
    EXPECT_STREQ(pieces[0], "version ");
    EXPECT_STREQ(pieces[1], " 1");
}

TEST(SplitText, MaximumDropsTheRestAfterTheLastStoredPiece) {
    char* pieces[4] = {};
    char two[] = "a=b=c";
    ASSERT_EQ(split_text(two, '=', pieces, 2), 2u);
    EXPECT_STREQ(pieces[0], "a");
    EXPECT_STREQ(pieces[1], "b");
    EXPECT_EQ(pieces[2], nullptr); // only count entries are written

    char three[] = "a=b=c";
    ASSERT_EQ(split_text(three, '=', pieces, 3), 3u);
    EXPECT_STREQ(pieces[0], "a");
    EXPECT_STREQ(pieces[1], "b");
    EXPECT_STREQ(pieces[2], "c");

    char one[] = "a=b";
    ASSERT_EQ(split_text(one, '=', pieces, 1), 1u);
    EXPECT_STREQ(pieces[0], "a");
}

TEST(SplitText, EmptyTextOrZeroMaximumTouchesNothing) {
    char* pieces[2] = {nullptr, nullptr};
    char empty[] = "";
    EXPECT_EQ(split_text(empty, '=', pieces, 64), 0u);
    EXPECT_EQ(pieces[0], nullptr);

    char text[] = "a=b";
    EXPECT_EQ(split_text(text, '=', pieces, 0), 0u);
    EXPECT_EQ(pieces[0], nullptr);
    EXPECT_EQ(std::memcmp(text, "a=b", 4), 0);
}

TEST(SplitText, EmptyPiecesRemain) {
    char* pieces[8];
    char leading[] = "=v";
    ASSERT_EQ(split_text(leading, '=', pieces, 64), 2u);
    EXPECT_STREQ(pieces[0], "");
    EXPECT_STREQ(pieces[1], "v");

    char trailing[] = "key=";
    ASSERT_EQ(split_text(trailing, '=', pieces, 64), 2u);
    EXPECT_STREQ(pieces[0], "key");
    EXPECT_STREQ(pieces[1], "");

    char path[] = "/data//a.txt";
    ASSERT_EQ(split_text(path, '/', pieces, 8), 4u);
    EXPECT_STREQ(pieces[0], "");
    EXPECT_STREQ(pieces[1], "data");
    EXPECT_STREQ(pieces[2], "");
    EXPECT_STREQ(pieces[3], "a.txt");

    char plain[] = "noseparator";
    ASSERT_EQ(split_text(plain, '/', pieces, 8), 1u);
    EXPECT_STREQ(pieces[0], "noseparator");
}
