#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform_test_support.h"

namespace {

// Joins with PathCombineA's rules; "<null>" when the call fails.
std::string combine(const std::string& folder, const std::string& file) {
    char dest[260];
    std::memset(dest, 'x', sizeof dest);
    const char* result = platform_path_combine(dest, folder.c_str(), file.c_str());
    if (!result) {
        return "<null>";
    }
    EXPECT_EQ(result, dest);
    return dest;
}

// Writes paths with "/" and turns them into this platform's form.
std::string native(std::string path) {
    for (char& c : path) {
        if (c == '/') {
            c = platform_separator();
        }
    }
    return path;
}

} // namespace

TEST(PlatformPaths, CombineJoinsWithOneSeparator) {
    const std::string root = platform_root();
    EXPECT_EQ(combine("a", "b.dat"), native("a/b.dat"));
    EXPECT_EQ(combine(native("a/"), "b.dat"), native("a/b.dat"));
    EXPECT_EQ(combine(root + native("games/tessa"), "Patch.dat"),
              root + native("games/tessa/Patch.dat"));
    // An empty folder gives the file alone; an empty file the folder alone.
    EXPECT_EQ(combine("", "Tessavane.dat"), "Tessavane.dat");
    EXPECT_EQ(combine(root + "games", ""), root + "games");
    // An absolute file stands alone.
    EXPECT_EQ(combine(root + "games", root + native("other/x.dat")), root + native("other/x.dat"));
}

TEST(PlatformPaths, CombineResolvesDots) {
    const std::string root = platform_root();
    EXPECT_EQ(combine(root + native("a/b"), native("../c")), root + native("a/c"));
    EXPECT_EQ(combine(root + native("a/b"), native("./c")), root + native("a/b/c"));
    EXPECT_EQ(combine(root + native("a/./b"), "c"), root + native("a/b/c"));
    EXPECT_EQ(combine(root + native("a/b/c"), native("../../d")), root + native("a/d"));
    EXPECT_EQ(combine(root + native("a/b"), ".."), root + "a");
    // Nothing lies above the root.
    EXPECT_EQ(combine(root + "a", native("../../../d")), root + "d");
}

#ifndef _WIN32
TEST(PlatformPaths, CombineKeepsRelativePathsRelative) {
    // Windows turns a fully cancelled relative path into the drive's root;
    // here it stays the current folder.
    EXPECT_EQ(combine("a", ".."), ".");
    EXPECT_EQ(combine("a", "../../b"), "../b");
    EXPECT_EQ(combine("a//b", "c"), "a/b/c");
    EXPECT_EQ(combine("a", "."), "a");
}
#endif

TEST(PlatformPaths, CombineRefusesWhatDoesNotFit) {
    const std::string root = platform_root();
    std::string folder = root + std::string(150 - root.size(), 'f'); // 150 bytes
    EXPECT_EQ(combine(folder, std::string(108, 'n')).size(), 259u);  // 150 + 1 + 108
    EXPECT_EQ(combine(folder, std::string(109, 'n')), "<null>");
    // A lone part that is too long fails too instead of being cut short.
    EXPECT_EQ(combine("", std::string(300, 'n')), "<null>");
    EXPECT_EQ(combine(root + std::string(300, 'f'), ""), "<null>");
    char dest[260] = "stale";
    EXPECT_EQ(platform_path_combine(dest, "", std::string(300, 'n').c_str()), nullptr);
    EXPECT_STREQ(dest, "");
}

TEST(PlatformPaths, FindFileNameStepsOverDoubleByteCharacters) {
    const struct {
        const char* path;
        const char* name;
    } rows[] = {
        {"C:\\games\\Tessavane.exe", "Tessavane.exe"},
        {"/opt/games/updater", "updater"},
        {"mixed/dir\\file.txt", "file.txt"},
        {"plain.txt", "plain.txt"},
        {"", ""},
        // A trailing separator is not where the name starts.
        {"a\\b\\", "b\\"},
        {"a/b/", "b/"},
        // "ソ", "表" and "能" end in the byte 0x5C, which is no separator there.
        {"\x83\x5C.txt", "\x83\x5C.txt"},
        {"\x95\x5C\x94\x5C", "\x95\x5C\x94\x5C"},
        {"dir\\\x83\x5C\x95\x5C", "\x83\x5C\x95\x5C"},
        {"\x94\x5C\\\x95\x5C.dat", "\x95\x5C.dat"},
        {"C:\\\x83\x5C\\\x94\x5C\x83\x5C\\x", "x"},
        {"/\x83\x5C/\x94\x5C", "\x94\x5C"},
    };
    for (const auto& row : rows) {
        const char* name = platform_path_find_file_name(row.path);
        ASSERT_GE(name, row.path) << row.path;
        ASSERT_LE(name, row.path + std::strlen(row.path)) << row.path;
        EXPECT_STREQ(name, row.name) << row.path;
    }
}

TEST(PlatformPaths, ModulePathNamesThisProgram) {
    char buffer[260];
    ASSERT_TRUE(platform_module_path(buffer, sizeof buffer));
    std::string name = platform_path_find_file_name(buffer);
#ifdef _WIN32
    EXPECT_EQ(name, "platform_tests.exe");
#else
    EXPECT_EQ(name, "platform_tests");
#endif
    char full[260];
    EXPECT_EQ(platform_full_path(full, sizeof full, buffer), std::strlen(buffer));
    EXPECT_STREQ(full, buffer); // already absolute and canonical
    char small[4];
    EXPECT_FALSE(platform_module_path(small, sizeof small));
}
