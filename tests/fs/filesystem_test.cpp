#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "fs/filesystem.h"
#include "fs_test_support.h"
#include "stream/stream.h"
#include "support/test_support.h"

static std::string resolve(FileSystem* fs, uint32_t size, const char* path, int* result) {
    char out[FS_PATH_SIZE];
    std::memset(out, '#', sizeof out);
    out[sizeof out - 1] = '\0';
    *result = fs_resolve_path(fs, out, size, path);
    return out;
}

TEST(FsResolvePath, JoinsRelativePathsToTheCurrentDirectory) {
    FakeFs fake(&fake_full_ops);
    int ok = 0;
    EXPECT_EQ(resolve(fake.fs(), FS_PATH_SIZE, "info.txt", &ok), "/info.txt");
    EXPECT_EQ(ok, 1);
    ASSERT_EQ(fs_set_current_dir(fake.fs(), "/data"), 1);
    EXPECT_EQ(resolve(fake.fs(), FS_PATH_SIZE, "a.txt", &ok), "/data/a.txt");
    EXPECT_EQ(resolve(fake.fs(), FS_PATH_SIZE, "/x/y.bin", &ok), "/x/y.bin");
    EXPECT_EQ(ok, 1);
    EXPECT_TRUE(fake.calls.empty());
}

TEST(FsResolvePath, RefusesResultsThatDoNotFitAndWritesNothing) {
    FakeFs fake(&fake_full_ops);
    int ok = 0;
    EXPECT_EQ(resolve(fake.fs(), 10, "12345678", &ok), "/12345678");
    EXPECT_EQ(ok, 1);
    std::string untouched = resolve(fake.fs(), 10, "123456789", &ok);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(untouched[0], '#');
    EXPECT_EQ(resolve(fake.fs(), 10, "/23456789", &ok), "/23456789");
    EXPECT_EQ(ok, 1);
    resolve(fake.fs(), 10, "/234567890", &ok);
    EXPECT_EQ(ok, 0);
    // The current directory counts against the same limit.
    fs_set_current_dir(fake.fs(), "/ab");
    EXPECT_EQ(resolve(fake.fs(), 10, "12345", &ok), "/ab/12345");
    EXPECT_EQ(ok, 1);
    resolve(fake.fs(), 10, "123456", &ok);
    EXPECT_EQ(ok, 0);
}

TEST(FsCurrentDir, KeepsTheOldDirectoryWhenTheNewOneDoesNotFit) {
    FakeFs fake(&fake_full_ops);
    char out[FS_PATH_SIZE];
    fs_get_current_dir(fake.fs(), out);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(fs_set_current_dir(fake.fs(), "/data"), 1);
    std::string longest = "/" + std::string(FS_PATH_SIZE - 2, 'd');
    std::string too_long = longest + "d";
    EXPECT_EQ(fs_set_current_dir(fake.fs(), too_long.c_str()), 0);
    EXPECT_EQ(fs_get_current_dir(fake.fs(), out), 1);
    EXPECT_STREQ(out, "/data");
    EXPECT_EQ(fs_set_current_dir(fake.fs(), longest.c_str()), 1);
    fs_get_current_dir(fake.fs(), out);
    EXPECT_EQ(out, longest);
}

TEST(FsCalls, MissingOperationsGiveFixedResultsWithoutACall) {
    // The shape of a read-only kind: only close, open and enumerate.
    static const FileSystemOps read_only = {FakeFs::close, FakeFs::open, FakeFs::enumerate, nullptr,
                                            nullptr};
    FakeFs archive_like(&read_only);
    EXPECT_EQ(fs_make_dir(archive_like.fs(), "x"), 0);
    EXPECT_EQ(fs_remove_dir(archive_like.fs(), "x"), 1);
    EXPECT_TRUE(archive_like.calls.empty());

    static const FileSystemOps bare = {FakeFs::close, nullptr, nullptr, nullptr, nullptr};
    FakeFs empty(&bare);
    EntryLog log;
    EXPECT_EQ(fs_enumerate(empty.fs(), "/", 1, &log, EntryLog::record), 0);
    EXPECT_EQ(fs_open(empty.fs(), "/a", 0, 0, STREAM_OPEN_READ, nullptr), nullptr);
    EXPECT_TRUE(empty.calls.empty());
    EXPECT_TRUE(log.entries.empty());
}

TEST(FsOpen, WithoutAFileSystemOpensTheDiskPathAsGiven) {
    TempDir dir;
    write_whole_file(dir.file("plain.txt"), "0123456789");
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    // Relative to the process's current directory, window passed through.
    Stream* s = fs_open(nullptr, "plain.txt", 2, 3, STREAM_OPEN_READ, nullptr);
    std::filesystem::current_path(previous);
    ASSERT_NE(s, nullptr);
    char bytes[8] = {};
    EXPECT_EQ(stream_read(s, bytes, sizeof bytes), 3u);
    EXPECT_STREQ(bytes, "234");
    stream_close(s);
    EXPECT_EQ(fs_open(nullptr, dir.file("missing.txt").c_str(), 0, 0, STREAM_OPEN_READ, nullptr),
              nullptr);
}
