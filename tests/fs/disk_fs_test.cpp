#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "fs/disk_fs.h"
#include "fs_test_support.h"
#include "stream/stream.h"
#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fsys = std::filesystem;

namespace {

// The runtime's chmod leaves folders alone on Windows, so the attribute is
// set directly there. False when the system does not keep it (Wine keeps no
// read-only bit on folders).
bool set_read_only(const std::string& path, bool read_only) {
#ifdef _WIN32
    DWORD bits = GetFileAttributesA(path.c_str());
    bits = read_only ? bits | FILE_ATTRIBUTE_READONLY : bits & ~FILE_ATTRIBUTE_READONLY;
    SetFileAttributesA(path.c_str(), bits);
    return GetFileAttributesA(path.c_str()) == bits;
#else
    const fsys::perms writable =
        fsys::perms::owner_write | fsys::perms::group_write | fsys::perms::others_write;
    fsys::permissions(path, writable,
                      read_only ? fsys::perm_options::remove : fsys::perm_options::add);
    return true;
#endif
}

// root/a.txt, root/sub/b.txt, root/sub/deeper/c.txt and the empty root/empty.
class DiskFs : public ::testing::Test {
  protected:
    void SetUp() override {
        fsys::create_directories(dir_.file("sub/deeper"));
        fsys::create_directory(dir_.file("empty"));
        write_whole_file(dir_.file("a.txt"), "aaa");
        write_whole_file(dir_.file("sub/b.txt"), "bbbbb");
        write_whole_file(dir_.file("sub/deeper/c.txt"), "c");
        fs_ = disk_fs_create(nullptr, dir_.path().c_str(), nullptr);
        ASSERT_NE(fs_, nullptr);
    }
    void TearDown() override {
        if (fs_) {
            fs_close(fs_);
        }
    }

    std::vector<std::string> sorted_names(const char* path, int recursive, int* result) {
        EntryLog log;
        *result = fs_enumerate(fs_, path, recursive, &log, EntryLog::record);
        std::vector<std::string> names = log.names();
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir_;
    FileSystem* fs_ = nullptr;
};

using Names = std::vector<std::string>;

} // namespace

TEST_F(DiskFs, EnumeratesTheRootWithNamesBelowIt) {
    EntryLog log;
    EXPECT_EQ(fs_enumerate(fs_, "/", 1, &log, EntryLog::record), 1);
    Names names = log.names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Names{"/a.txt", "/empty", "/sub", "/sub/b.txt", "/sub/deeper",
                            "/sub/deeper/c.txt"}));
    ASSERT_NE(log.find("/sub/b.txt"), nullptr);
    EXPECT_EQ(log.find("/sub/b.txt")->size, 5u);
    EXPECT_EQ(log.find("/sub/b.txt")->attributes, 0u);
    EXPECT_EQ(log.find("/sub/deeper")->attributes, DIRENTRY_DIRECTORY);
    EXPECT_EQ(log.find("/a.txt")->fs, fs_);
    // Each folder comes first and its whole contents follow right after it.
    Names order = log.names();
    for (const char* folder : {"/sub", "/sub/deeper"}) {
        auto at = std::find(order.begin(), order.end(), folder);
        ASSERT_NE(at, order.end());
        std::string inside = std::string(folder) + "/";
        auto first_outside = std::find_if(at + 1, order.end(), [&](const std::string& n) {
            return n.compare(0, inside.size(), inside) != 0;
        });
        EXPECT_EQ(std::count_if(order.begin(), order.end(),
                                [&](const std::string& n) {
                                    return n.compare(0, inside.size(), inside) == 0;
                                }),
                  first_outside - (at + 1))
            << folder;
    }
}

TEST_F(DiskFs, EnumeratesRelativePathsAndHonoursTheRecursiveFlag) {
    int result = 0;
    EXPECT_EQ(sorted_names("sub", 1, &result), (Names{"/b.txt", "/deeper", "/deeper/c.txt"}));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(sorted_names("/", 0, &result), (Names{"/a.txt", "/empty", "/sub"}));
    fs_set_current_dir(fs_, "/sub");
    EXPECT_EQ(sorted_names("deeper", 1, &result), (Names{"/c.txt"}));
    EXPECT_EQ(sorted_names("empty", 1, &result), Names{});
    EXPECT_EQ(result, 0) << "/sub/empty does not exist";
    fs_set_current_dir(fs_, "");
    EXPECT_EQ(sorted_names("empty", 1, &result), Names{});
    EXPECT_EQ(result, 1) << "an empty folder is found and walked";
    // A composed path beyond the buffer fails before the disk is asked.
    std::string long_path(FS_PATH_SIZE, 'x');
    EXPECT_EQ(sorted_names(long_path.c_str(), 1, &result), Names{});
    EXPECT_EQ(result, 0);
    EXPECT_EQ(fs_open(fs_, long_path.c_str(), 0, 0, STREAM_OPEN_READ, nullptr), nullptr);
    EXPECT_EQ(fs_make_dir(fs_, long_path.c_str()), 0);
}

TEST_F(DiskFs, ReportsReadOnlyAndDirectoryAttributes) {
    set_read_only(dir_.file("a.txt"), true);
    bool folder_kept = set_read_only(dir_.file("sub"), true);
    EntryLog log;
    fs_enumerate(fs_, "/", 0, &log, EntryLog::record);
    uint32_t file_bits = disk_attributes(dir_.file("a.txt").c_str());
    uint32_t folder_bits = disk_attributes(dir_.file("sub").c_str());
    set_read_only(dir_.file("a.txt"), false);
    set_read_only(dir_.file("sub"), false);

    EXPECT_EQ(file_bits, DIRENTRY_READONLY);
    uint32_t folder_expected = DIRENTRY_DIRECTORY | (folder_kept ? DIRENTRY_READONLY : 0);
    EXPECT_EQ(folder_bits, folder_expected);
    ASSERT_NE(log.find("/a.txt"), nullptr);
    EXPECT_EQ(log.find("/a.txt")->attributes, DIRENTRY_READONLY);
    EXPECT_EQ(log.find("/sub")->attributes, folder_expected);
    EXPECT_EQ(log.find("/empty")->attributes, DIRENTRY_DIRECTORY);
    EXPECT_EQ(disk_attributes(dir_.file("empty").c_str()), DIRENTRY_DIRECTORY);
    EXPECT_EQ(disk_attributes(dir_.file("sub/b.txt").c_str()), 0u);
    EXPECT_EQ(disk_attributes(dir_.file("nothing-here").c_str()), 0u)
        << "a missing path is no read-only folder";
}

TEST_F(DiskFs, MakesAndRemovesTheRootAndRelativeFolders) {
    std::string root = dir_.file("newroot");
    FileSystem* fresh = disk_fs_create(nullptr, root.c_str(), nullptr);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fs_make_dir(fresh, "/"), 1);
    EXPECT_TRUE(fsys::is_directory(root));
    EXPECT_EQ(fs_make_dir(fresh, "/"), 0) << "already there";
    EXPECT_EQ(fs_make_dir(fresh, "/data"), 1);
    fs_set_current_dir(fresh, "/data");
    EXPECT_EQ(fs_make_dir(fresh, "x"), 1);
    EXPECT_TRUE(fsys::is_directory(dir_.file("newroot/data/x")));
    EXPECT_EQ(fs_remove_dir(fresh, "x"), 1);
    EXPECT_FALSE(fsys::exists(dir_.file("newroot/data/x")));
    EXPECT_EQ(fs_remove_dir(fresh, "/"), 0) << "not empty";
    EXPECT_EQ(fs_remove_dir(fresh, "/data"), 1);
    EXPECT_EQ(fs_remove_dir(fresh, "/"), 1);
    EXPECT_FALSE(fsys::exists(root));
    fs_close(fresh);
}

TEST_F(DiskFs, OpensFilesThroughTheRootAndTheCurrentDirectory) {
    fs_set_current_dir(fs_, "/sub");
    Stream* s = fs_open(fs_, "b.txt", 1, 3, STREAM_OPEN_READ, nullptr);
    ASSERT_NE(s, nullptr);
    char bytes[8] = {};
    EXPECT_EQ(stream_read(s, bytes, sizeof bytes), 3u);
    EXPECT_STREQ(bytes, "bbb");
    stream_close(s);
    s = fs_open(fs_, "/a.txt", 0, 0, STREAM_OPEN_READ, nullptr);
    ASSERT_NE(s, nullptr) << "an absolute path ignores the current directory";
    EXPECT_EQ(stream_size(s), 3u);
    stream_close(s);
    EXPECT_EQ(fs_open(fs_, "a.txt", 0, 0, STREAM_OPEN_READ, nullptr), nullptr);
}

TEST(DiskFsCreate, RefusesARootThatDoesNotFit) {
    std::string root(FS_PATH_SIZE, 'r');
    EXPECT_EQ(disk_fs_create(nullptr, root.c_str(), nullptr), nullptr);
    root.pop_back();
    FileSystem* fs = disk_fs_create(nullptr, root.c_str(), nullptr);
    ASSERT_NE(fs, nullptr);
    EXPECT_EQ(std::string(fs->header.root_path), root);
    EXPECT_EQ(fs->header.current_dir[0], '\0');
    EXPECT_EQ(fs->header.parent, nullptr);
    fs_close(fs);
}

TEST(DiskFsParent, ForwardsComposedPathsToTheParent) {
    FakeFs parent(&fake_full_ops);
    FileSystem* view = disk_fs_create(parent.fs(), "/base", nullptr);
    ASSERT_NE(view, nullptr);
    Allocator* allocator = reinterpret_cast<Allocator*>(&parent);
    EXPECT_EQ(fs_open(view, "x", 5, 6, STREAM_OPEN_WRITE, allocator), parent.stream);
    EXPECT_EQ(parent.last_path, "/base/x");
    EXPECT_EQ(parent.last_offset, 5u);
    EXPECT_EQ(parent.last_length, 6u);
    EXPECT_EQ(parent.last_flags, STREAM_OPEN_WRITE);
    EXPECT_EQ(parent.last_allocator, allocator);
    fs_set_current_dir(view, "/cd");
    fs_open(view, "y", 0, 0, STREAM_OPEN_READ, nullptr);
    EXPECT_EQ(parent.last_path, "/base/cd/y");
    EntryLog log;
    EXPECT_EQ(fs_enumerate(view, "/", 1, &log, EntryLog::record), parent.result);
    EXPECT_EQ(parent.last_path, "/base/");
    EXPECT_EQ(parent.last_context, &log);
    EXPECT_EQ(fs_make_dir(view, "/"), parent.result);
    EXPECT_EQ(parent.last_path, "/base");
    EXPECT_EQ(fs_remove_dir(view, "m"), parent.result);
    EXPECT_EQ(parent.last_path, "/base/cd/m");
    fs_close(view);
    EXPECT_EQ(parent.calls, (Names{"open", "open", "enumerate", "make_dir", "remove_dir"}))
        << "closing the view leaves the parent open";
}

TEST_F(DiskFs, AViewOfASubFolderReadsThroughADiskParent) {
    FileSystem* view = disk_fs_create(fs_, "/sub", nullptr);
    ASSERT_NE(view, nullptr);
    Stream* s = fs_open(view, "b.txt", 0, 0, STREAM_OPEN_READ, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(stream_size(s), 5u);
    stream_close(s);
    EntryLog log;
    EXPECT_EQ(fs_enumerate(view, "/", 0, &log, EntryLog::record), 1);
    ASSERT_NE(log.find("/b.txt"), nullptr);
    EXPECT_EQ(log.find("/b.txt")->fs, fs_) << "the walk runs in the parent";
    fs_close(view);
}
