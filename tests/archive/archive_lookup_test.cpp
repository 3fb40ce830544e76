#include <gtest/gtest.h>

#include "archive/archive_fs.h"
#include "archive/archive_test_support.h"
#include "stream/stream.h"
#include "support/test_archive_writer.h"
#include "support/test_support.h"

namespace {

TestArchive game_archive() {
    TestArchive a;
    a.files = {
        {"/info.txt", "identifer=t\r\nversion=1.0\r\n"},
        {"/data", "a file named like a directory"},
        {"/data/map.bin", make_bytes(100, 1)},
        {"/_extract/readme.txt", "read me"},
        {"/_extract/sub/a.txt", "A"},
        // "表" in code page 932 ends in 0x5C, the backslash byte.
        {"/\x95\x5C/\x83\x5C.txt", "sjis"},
    };
    return a;
}

bool opens(FileSystem* fs, const char* path) {
    Stream* s = fs_open(fs, path, 0, 0, STREAM_OPEN_READ, nullptr);
    if (s) {
        stream_close(s);
    }
    return s != nullptr;
}

} // namespace

TEST(ArchiveLookup, FindsFilesByAbsoluteOrRootRelativePath) {
    TempDir dir;
    FsPtr fs(archive_open(nullptr, save_archive(dir, build_test_archive(game_archive())).c_str(),
                          nullptr));
    ASSERT_TRUE(fs);
    RawMessageCapture messages;
    ArchiveEntryInfo with_slash{}, without{};
    ASSERT_TRUE(archive_entry_info(fs.get(), "/info.txt", &with_slash));
    ASSERT_TRUE(archive_entry_info(fs.get(), "info.txt", &without));
    EXPECT_EQ(with_slash.data_offset, without.data_offset);
    EXPECT_TRUE(opens(fs.get(), "info.txt"));
    EXPECT_TRUE(opens(fs.get(), "/_extract/sub/a.txt"));
    EXPECT_TRUE(opens(fs.get(), "_extract/readme.txt"));
    EXPECT_TRUE(opens(fs.get(), "/\x95\x5C/\x83\x5C.txt"));

    // A directory and a file may share a name.
    Stream* s = fs_open(fs.get(), "/data", 0, 0, STREAM_OPEN_READ, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(read_and_close(s), "a file named like a directory");
    EXPECT_TRUE(opens(fs.get(), "/data/map.bin"));
    EXPECT_TRUE(messages.messages().empty());
}

TEST(ArchiveLookup, MissesAreReportedWithTheCallersPath) {
    TempDir dir;
    FsPtr fs(archive_open(nullptr, save_archive(dir, build_test_archive(game_archive())).c_str(),
                          nullptr));
    ASSERT_TRUE(fs);
    RawMessageCapture messages;
    const char* misses[] = {
        "INFO.TXT",   // names compare case-sensitively
        "/_extract",  // a directory is not a file
        "/_extract/", // empty last component
        "//info.txt", // empty first component
        "/_extract//sub/a.txt",
        "/info.txt/",
        "/info.txt/x", // a file is not a directory
        "/sub/a.txt",  // not at the root
        "",
        "/",
    };
    for (const char* path : misses) {
        EXPECT_FALSE(opens(fs.get(), path)) << path;
        EXPECT_TRUE(messages.has("Error: Failed to open \"" + std::string(path) + "\"\n")) << path;
    }
    EXPECT_EQ(messages.messages().size(), std::size(misses));

    // Paths that cannot fit a 512-byte path buffer find nothing.
    std::string long_path = "/" + std::string(FS_PATH_SIZE, 'a');
    EXPECT_FALSE(opens(fs.get(), long_path.c_str()));
    ArchiveEntryInfo info{};
    EXPECT_FALSE(archive_entry_info(fs.get(), long_path.c_str(), &info));
}

TEST(ArchiveLookup, RelativePathsFollowTheCurrentDirectory) {
    TempDir dir;
    FsPtr fs(archive_open(nullptr, save_archive(dir, build_test_archive(game_archive())).c_str(),
                          nullptr));
    ASSERT_TRUE(fs);
    ASSERT_EQ(fs_set_current_dir(fs.get(), "/_extract"), 1);
    EXPECT_TRUE(opens(fs.get(), "readme.txt"));
    EXPECT_TRUE(opens(fs.get(), "/info.txt"));
    RawMessageCapture messages;
    EXPECT_FALSE(opens(fs.get(), "info.txt"));
    // Names come out absolute, so a callback can open them whatever the
    // current directory is.
    EXPECT_EQ(enumerate_all(fs.get(), "sub", 0),
              (std::vector<SeenEntry>{{"/_extract/sub/a.txt", 1, 0}}));
}
