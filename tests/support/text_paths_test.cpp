#include <gtest/gtest.h>

#include "support/text.h"

// Code page 932 names whose second byte is 0x5C, the backslash:
// "\x83\x5C" is ソ, "\x95\x5C" is 表, "\x94\x5C" is 能.
#define SO "\x83\x5C"
#define HYOU "\x95\x5C"
#define NOU "\x94\x5C"

TEST(PathFileName, TakesThePartAfterTheLastSeparator) {
    const char* mixed = "dir\\sub/file.txt";
    EXPECT_EQ(path_file_name(mixed), mixed + 8);
    EXPECT_STREQ(path_file_name("file"), "file");
    EXPECT_STREQ(path_file_name(""), "");
    EXPECT_STREQ(path_file_name("dir/"), "");
    EXPECT_STREQ(path_file_name("/a.txt"), "a.txt");
}

TEST(PathFileName, TrailBytesOfDoubleByteCharactersAreNotSeparators) {
    EXPECT_STREQ(path_file_name("/data/" SO "\x83\x74\x83\x67.txt"), SO "\x83\x74\x83\x67.txt");
    EXPECT_STREQ(path_file_name(HYOU), HYOU);
    EXPECT_STREQ(path_file_name("a\\" NOU "\\" HYOU ".png"), HYOU ".png");
    EXPECT_STREQ(path_file_name(SO "/" NOU), NOU);
    // A single-byte katakana (0xA0-0xDF) is no lead byte: the backslash after it separates.
    EXPECT_STREQ(path_file_name("\xB1\\x"), "x");
    // A lead byte right before the end must not carry the scan past the NUL.
    const char cut[] = "a/\x83";
    EXPECT_EQ(path_file_name(cut), cut + 2);
}

TEST(PathExtension, FollowsTheLastDotOfTheLastComponent) {
    const char* archive = "c.tar.gz";
    EXPECT_EQ(path_extension(archive), archive + 6);
    EXPECT_EQ(path_extension("a.b/c"), nullptr);
    EXPECT_EQ(path_extension("a.b\\c"), nullptr);
    EXPECT_EQ(path_extension("plain"), nullptr);
    EXPECT_EQ(path_extension(""), nullptr);
    EXPECT_STREQ(path_extension("name."), "");
    EXPECT_STREQ(path_extension(SO ".dat"), "dat");
    EXPECT_EQ(path_extension("x.y\\" SO), nullptr);
    // Were 0x5C a separator here, the dot before it would be lost.
    EXPECT_STREQ(path_extension("v1." HYOU), HYOU);
}

TEST(PathDirectory, CopiesUpToAndIncludingTheLastSeparator) {
    char out[64];
    EXPECT_STREQ(path_directory(out, "dir\\sub/file.txt"), "dir\\sub/");
    EXPECT_STREQ(path_directory(out, "file.txt"), "");
    EXPECT_STREQ(path_directory(out, "/"), "/");
    EXPECT_STREQ(path_directory(out, "/data/" SO ".txt"), "/data/");
    EXPECT_STREQ(path_directory(out, NOU "/" HYOU), NOU "/");

    char same[] = "a/b/c";
    EXPECT_STREQ(path_directory(same, same), "a/b/");
}

TEST(PathChangeExtension, ReplacesOrAppends) {
    char out[64];
    EXPECT_STREQ(path_change_extension(out, "a/b.txt", "dat"), "a/b.dat");
    EXPECT_STREQ(path_change_extension(out, "a.d/b", "dat"), "a.d/b.dat");
    EXPECT_STREQ(path_change_extension(out, "c.tar.gz", "xz"), "c.tar.xz");
    EXPECT_STREQ(path_change_extension(out, "name.", "ext"), "name.ext");
    EXPECT_STREQ(path_change_extension(out, "", "dat"), ".dat");
    EXPECT_STREQ(path_change_extension(out, "x." SO, "bin"), "x.bin");
    EXPECT_STREQ(path_change_extension(out, "d\\" NOU, "bin"), "d\\" NOU ".bin");

    char same[16] = "a/b.txt";
    EXPECT_STREQ(path_change_extension(same, same, "epk"), "a/b.epk");
}
