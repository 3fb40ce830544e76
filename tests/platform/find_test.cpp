#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "platform/platform.h"
#include "platform_test_support.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

struct Listed {
    uint32_t size;
    uint32_t attributes;
    bool unconvertible;
    int count;
};

// Lists folder with the "<folder><separator>*" pattern; false when the
// listing cannot start.
bool list_folder(const std::string& folder, std::map<std::string, Listed>* out) {
    std::string pattern = join_path(folder, "*");
    PlatformFindData data;
    PlatformFind find = platform_find_first(pattern.c_str(), &data);
    if (find == PLATFORM_INVALID_FIND) {
        return false;
    }
    do {
        Listed& entry = (*out)[data.name];
        entry.size = data.size_low;
        entry.attributes = data.attributes;
        entry.unconvertible = data.name_unconvertible;
        ++entry.count;
    } while (platform_find_next(find, &data));
    platform_find_close(find);
    return true;
}

} // namespace

TEST(PlatformFind, ListsEntriesWithDots) {
    TempDir dir;
    write_whole_file(dir.file("five.txt"), "12345");
    write_whole_file(dir.file("empty.bin"), "");
    ASSERT_TRUE(platform_make_dir(dir.file("sub").c_str()));
    write_whole_file(join_path(dir.file("sub"), "inner.txt"), "not listed");

    std::map<std::string, Listed> entries;
    ASSERT_TRUE(list_folder(dir.path(), &entries));
    ASSERT_EQ(entries.size(), 5u);
    for (const auto& [name, entry] : entries) {
        EXPECT_EQ(entry.count, 1) << name;
        EXPECT_FALSE(entry.unconvertible) << name;
    }
    EXPECT_EQ(entries["."].attributes, PLATFORM_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(entries[".."].attributes & PLATFORM_ATTRIBUTE_DIRECTORY,
              PLATFORM_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(entries["five.txt"].size, 5u);
    EXPECT_EQ(entries["five.txt"].attributes, 0u);
    EXPECT_EQ(entries["empty.bin"].size, 0u);
    EXPECT_EQ(entries["sub"].attributes, PLATFORM_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(entries["sub"].size, 0u);
}

TEST(PlatformFind, EmptyAndMissingFolders) {
    TempDir dir;
    std::map<std::string, Listed> entries;
    ASSERT_TRUE(list_folder(dir.path(), &entries));
    EXPECT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries.count("."), 1u);
    EXPECT_EQ(entries.count(".."), 1u);

    entries.clear();
    EXPECT_FALSE(list_folder(dir.file("missing"), &entries));
    EXPECT_TRUE(entries.empty());
    // A file is no folder to list.
    write_whole_file(dir.file("plain"), "x");
    EXPECT_FALSE(list_folder(dir.file("plain"), &entries));
    platform_find_close(PLATFORM_INVALID_FIND); // harmless
}

TEST(PlatformFind, JapaneseNamesRoundTrip) {
    TempDir dir;
    // "ソ表能.txt": every character's trail byte is 0x5C.
    const std::string name = "\x83\x5C\x95\x5C\x94\x5C.txt";
    const std::string folder_name = "\x83\x5C";
    std::string path = join_path(dir.path(), name);

    PlatformFile file =
        platform_file_open(path.c_str(), PLATFORM_ACCESS_WRITE, PLATFORM_CREATE_ALWAYS);
    ASSERT_NE(file, PLATFORM_INVALID_FILE);
    EXPECT_EQ(platform_file_write(file, "kana", 4), 4u);
    platform_file_close(file);
    ASSERT_TRUE(platform_make_dir(join_path(dir.path(), folder_name).c_str()));

    std::map<std::string, Listed> entries;
    ASSERT_TRUE(list_folder(dir.path(), &entries));
    EXPECT_EQ(entries.size(), 4u);
    ASSERT_EQ(entries.count(name), 1u);
    EXPECT_EQ(entries[name].size, 4u);
    EXPECT_EQ(entries[folder_name].attributes, PLATFORM_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(platform_attributes(path.c_str()), 0u);
    std::map<std::string, Listed> inside;
    EXPECT_TRUE(list_folder(join_path(dir.path(), folder_name), &inside));
    EXPECT_EQ(inside.size(), 2u);

    // The listed name opens the same file.
    std::string listed = join_path(dir.path(), entries.find(name)->first);
    file = platform_file_open(listed.c_str(), PLATFORM_ACCESS_READ, PLATFORM_OPEN_EXISTING);
    ASSERT_NE(file, PLATFORM_INVALID_FILE);
    char buffer[8];
    EXPECT_EQ(platform_file_read(file, buffer, sizeof buffer), 4u);
    platform_file_close(file);

#ifndef _WIN32
    // On disk the name is the UTF-8 form of the same characters.
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/\u30BD\u8868\u80FD.txt"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/\u30BD"));
#endif
}

#ifndef _WIN32
TEST(PlatformFind, NamesWithoutCodePageFormFailClearly) {
    TempDir dir;
    // "é" has no code page 932 form; 0xFF is no code page 932 byte at all.
    std::string native = dir.path() + "/caf\xC3\xA9.txt";
    write_whole_file(native, "x");

    std::map<std::string, Listed> entries;
    ASSERT_TRUE(list_folder(dir.path(), &entries));
    ASSERT_EQ(entries.count("caf\xC3\xA9.txt"), 1u);
    EXPECT_TRUE(entries["caf\xC3\xA9.txt"].unconvertible);
    EXPECT_FALSE(entries["."].unconvertible);

    // Bytes that are no code page 932 text never reach the file system.
    std::string bad = dir.path() + "/bad\xFF.txt";
    EXPECT_EQ(platform_file_open(bad.c_str(), PLATFORM_ACCESS_WRITE, PLATFORM_CREATE_ALWAYS),
              PLATFORM_INVALID_FILE);
    EXPECT_FALSE(platform_make_dir(bad.c_str()));
    // The raw bytes of the listed name read as other characters in code
    // page 932 (0xC3 0xA9 is two half-width kana) and so reach no file.
    EXPECT_EQ(platform_attributes(native.c_str()), PLATFORM_ATTRIBUTES_INVALID);
    EXPECT_FALSE(platform_file_delete(native.c_str()));
    EXPECT_TRUE(std::filesystem::exists(native));
    entries.clear();
    ASSERT_TRUE(list_folder(dir.path(), &entries));
    EXPECT_EQ(entries.size(), 3u);
}
#endif
