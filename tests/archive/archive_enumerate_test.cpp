#include <gtest/gtest.h>

#include "archive/archive_fs.h"
#include "archive/archive_test_support.h"
#include "support/test_archive_writer.h"
#include "support/test_support.h"

namespace {

constexpr uint32_t DIR = DIRENTRY_DIRECTORY;

TestArchive tree_archive() {
    TestArchive a;
    a.dirs = {"/_extract", "/_extract/sub", "/_extract/sub/deep", "/empty"};
    a.files = {
        {"/info.txt", "version=1\r\n"},
        {"/_extract/readme.txt", "read me", 1, true, 0x01},
        {"/_extract/sub/a.txt", "A"},
        {"/_extract/sub/deep/b.bin", make_bytes(3000, 4), 2, true},
        {"/_extract/z.txt", "zz", 0, false, 0x20},
        {"/_config.txt", "[NoCompression]\r\n"},
    };
    return a;
}

} // namespace

TEST(ArchiveEnumerate, RootIsListedDirectoriesFirstWithoutDescending) {
    std::string bytes = build_test_archive(tree_archive());
    TempDir dir;
    FsPtr fs(archive_open(nullptr, save_archive(dir, bytes).c_str(), nullptr));
    FsPtr memory(archive_open_memory(bytes.data(), uint32_t(bytes.size()), nullptr));
    std::vector<SeenEntry> expected = {
        {"/_extract", 0, DIR},
        {"/empty", 0, DIR},
        {"/info.txt", 11, 0},
        {"/_config.txt", 17, 0},
    };
    for (FileSystem* f : {fs.get(), memory.get()}) {
        ASSERT_NE(f, nullptr);
        int result = 0;
        EXPECT_EQ(enumerate_all(f, "/", 0, &result), expected);
        EXPECT_EQ(result, 1);
        // An empty relative path is the root too.
        EXPECT_EQ(enumerate_all(f, "", 0, &result), expected);
        EXPECT_EQ(enumerate_all(f, "/empty", 1, &result), std::vector<SeenEntry>{});
        EXPECT_EQ(result, 1);
    }
}

TEST(ArchiveEnumerate, RecursiveWalkIsDepthFirstWithFullNames) {
    TempDir dir;
    FsPtr fs(archive_open(nullptr, save_archive(dir, build_test_archive(tree_archive())).c_str(),
                          nullptr));
    ASSERT_TRUE(fs);
    int result = 0;
    EXPECT_EQ(enumerate_all(fs.get(), "/_extract", 1, &result),
              (std::vector<SeenEntry>{
                  {"/_extract/sub", 0, DIR},
                  {"/_extract/sub/deep", 0, DIR},
                  {"/_extract/sub/deep/b.bin", 3000, 0},
                  {"/_extract/sub/a.txt", 1, 0},
                  {"/_extract/readme.txt", 7, 0x01},
                  {"/_extract/z.txt", 2, 0x20},
              }));
    EXPECT_EQ(result, 1);
    // Relative start: the same names without the leading "/".
    EXPECT_EQ(enumerate_all(fs.get(), "_extract/sub", 1, &result),
              (std::vector<SeenEntry>{
                  {"_extract/sub/deep", 0, DIR},
                  {"_extract/sub/deep/b.bin", 3000, 0},
                  {"_extract/sub/a.txt", 1, 0},
              }));
    EXPECT_EQ(enumerate_all(fs.get(), "/", 1).size(), 10u);
}

TEST(ArchiveEnumerate, PathsThatNameNoDirectoryGiveZero) {
    TempDir dir;
    FsPtr fs(archive_open(nullptr, save_archive(dir, build_test_archive(tree_archive())).c_str(),
                          nullptr));
    ASSERT_TRUE(fs);
    RawMessageCapture messages;
    for (const char* path :
         {"/_extract/", "/missing", "/info.txt", "//", "/_EXTRACT", "/_extract//sub"}) {
        int result = -1;
        EXPECT_TRUE(enumerate_all(fs.get(), path, 1, &result).empty()) << path;
        EXPECT_EQ(result, 0) << path;
    }
    EXPECT_TRUE(messages.messages().empty());
}

TEST(ArchiveEnumerate, TheDeepestTreeThatFitsIsWalkedWithoutRecursion) {
    // 255 levels of one-letter directories: "/d/d/.../d" is 510 bytes, as
    // deep as a 512-byte name allows. The file sits one level up, "/f" in
    // place of the last "/d".
    std::string path;
    for (int i = 0; i < 254; ++i) {
        path += "/d";
    }
    TestArchive a;
    a.dirs = {path + "/d"};
    a.files = {{path + "/f", "end"}};
    TempDir dir;
    FsPtr fs(archive_open(nullptr, save_archive(dir, build_test_archive(a)).c_str(), nullptr));
    ASSERT_TRUE(fs);
    std::vector<SeenEntry> seen = enumerate_all(fs.get(), "/", 1);
    ASSERT_EQ(seen.size(), 256u);
    EXPECT_EQ(seen[254].name, path + "/d");
    EXPECT_EQ(seen[254].name.size(), 510u);
    EXPECT_EQ(seen[255], (SeenEntry{path + "/f", 3, 0}));
    ArchiveEntryInfo info{};
    EXPECT_TRUE(archive_entry_info(fs.get(), (path + "/f").c_str(), &info));
}

TEST(ArchiveEnumerate, AFileRecordNeverClaimsToBeADirectory) {
    // Attribute bytes are handed on as stored, but a file whose byte carries
    // the directory bit would otherwise be skipped or turned into a folder
    // by callers, and its content lost.
    TestArchive a;
    a.files.push_back({"/flagged.bin", "content", 1, true, 0x81});
    a.files.push_back({"/plain.txt", "x", 0, false, 0x01});
    TempDir dir;
    FsPtr fs(archive_open(nullptr, save_archive(dir, build_test_archive(a)).c_str(), nullptr));
    ASSERT_TRUE(fs);
    std::vector<SeenEntry> seen = enumerate_all(fs.get(), "/", 1);
    EXPECT_EQ(seen, (std::vector<SeenEntry>{{"/flagged.bin", 7, 0x01}, {"/plain.txt", 1, 0x01}}));
}
