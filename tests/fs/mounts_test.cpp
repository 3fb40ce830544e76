#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "fs/disk_fs.h"
#include "fs/filesystem.h"
#include "fs_test_support.h"
#include "stream/stream.h"
#include "support/memory.h"
#include "support/test_support.h"

namespace {

// On Linux the application-data folder comes from XDG_DATA_HOME; point it
// into a temporary folder so that no test touches the real home.
class MountTable : public ::testing::Test {
  protected:
    void SetUp() override {
#ifndef _WIN32
        const char* old = std::getenv("XDG_DATA_HOME");
        had_old_ = old != nullptr;
        old_ = old ? old : "";
        app_data_ = home_.file("data");
        setenv("XDG_DATA_HOME", app_data_.c_str(), 1);
#endif
    }
    void TearDown() override {
#ifndef _WIN32
        if (had_old_) {
            setenv("XDG_DATA_HOME", old_.c_str(), 1);
        } else {
            unsetenv("XDG_DATA_HOME");
        }
#endif
    }

    TempDir home_;
    std::string app_data_;
    bool had_old_ = false;
    std::string old_;
};

std::string read_all(Stream* s) {
    std::string out;
    char chunk[64];
    while (stream_state(s) != STREAM_STATE_END) {
        uint32_t n = stream_read(s, chunk, sizeof chunk);
        if (n == 0) {
            break;
        }
        out.append(chunk, n);
    }
    stream_close(s);
    return out;
}

} // namespace

TEST(MountSlots, SetAndGetStayWithinTheEightSlots) {
    FakeFs fake(&fake_full_ops);
    EXPECT_EQ(fs_set_mount(8, fake.fs()), 8);
    EXPECT_EQ(fs_set_mount(-1, fake.fs()), -1);
    EXPECT_EQ(fs_get_mount(8), nullptr);
    EXPECT_EQ(fs_get_mount(-1), nullptr);
    for (int i = 2; i < MOUNT_SLOTS; ++i) {
        EXPECT_EQ(fs_get_mount(i), nullptr) << i;
    }
    EXPECT_EQ(fs_set_mount(7, fake.fs()), 7);
    EXPECT_EQ(fs_get_mount(7), fake.fs());
    EXPECT_EQ(fs_open_mount(7, "/p", 4, 5, STREAM_OPEN_READ, nullptr), fake.stream);
    EXPECT_EQ(fake.last_path, "/p");
    EXPECT_EQ(fake.last_offset, 4u);
    EXPECT_EQ(fake.last_length, 5u);
    fs_set_mount(7, nullptr);
    EXPECT_EQ(fs_get_mount(7), nullptr);
}

TEST_F(MountTable, InitNestsAndOnlyTheOutermostShutdownClosesTheSlots) {
    fs_init(nullptr);
    FileSystem* current = fs_get_mount(MOUNT_CURRENT_DIR);
    FileSystem* app_data = fs_get_mount(MOUNT_APP_DATA);
    ASSERT_NE(current, nullptr);
    ASSERT_NE(app_data, nullptr);
    EXPECT_EQ(std::filesystem::path(current->header.root_path), std::filesystem::current_path());
#ifndef _WIN32
    EXPECT_EQ(std::string(app_data->header.root_path), app_data_);
    EXPECT_TRUE(std::filesystem::is_directory(app_data_)) << "created when missing";
#endif
    fs_init(nullptr);
    EXPECT_EQ(fs_get_mount(MOUNT_CURRENT_DIR), current);
    fs_shutdown();
    EXPECT_EQ(fs_get_mount(MOUNT_CURRENT_DIR), current);
    EXPECT_EQ(fs_get_mount(MOUNT_APP_DATA), app_data);
    fs_shutdown();
    EXPECT_EQ(fs_get_mount(MOUNT_CURRENT_DIR), nullptr);
    EXPECT_EQ(fs_get_mount(MOUNT_APP_DATA), nullptr);

    // An unmatched shutdown must not keep the next init from creating.
    fs_shutdown();
    fs_init(nullptr);
    EXPECT_NE(fs_get_mount(MOUNT_CURRENT_DIR), nullptr);
    fs_shutdown();
    EXPECT_EQ(fs_get_mount(MOUNT_CURRENT_DIR), nullptr);
}

TEST_F(MountTable, OpenWholeUsesTheSlotOrFallsBackToTheDisk) {
    fs_init(nullptr);
    FileSystem* app_data = fs_get_mount(MOUNT_APP_DATA);
    ASSERT_NE(app_data, nullptr);
    std::string name = "epk2-mount-test-" + std::to_string(std::rand()) + ".txt";
    std::filesystem::path in_app_data = std::filesystem::path(app_data->header.root_path) / name;
    write_whole_file(in_app_data.string(), "app data bytes");
    Stream* s =
        fs_open_mount_whole(MOUNT_APP_DATA, ("/" + name).c_str(), STREAM_OPEN_READ, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(read_all(s), "app data bytes");
    std::filesystem::remove(in_app_data);
    fs_shutdown();

    // Empty slot and out-of-range index: the path text goes to the disk as is.
    TempDir dir;
    write_whole_file(dir.file("direct.txt"), "direct bytes");
    ASSERT_EQ(fs_get_mount(5), nullptr);
    s = fs_open_mount_whole(5, dir.file("direct.txt").c_str(), STREAM_OPEN_READ, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(read_all(s), "direct bytes");
    s = fs_open_mount_whole(9, dir.file("direct.txt").c_str(), STREAM_OPEN_READ, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(read_all(s), "direct bytes");
}

TEST_F(MountTable, ShutdownClosesOnlyWhatInitCreated) {
    TempDir dir;
    write_whole_file(dir.file("mine.txt"), "mine");
    uint32_t heap_before = mem_default_allocator()->used;
    fs_init(nullptr);
    FileSystem* mine = disk_fs_create(nullptr, dir.path().c_str(), nullptr);
    ASSERT_NE(mine, nullptr);
    fs_set_mount(MOUNT_CURRENT_DIR, mine);
    fs_shutdown();
    EXPECT_EQ(fs_get_mount(MOUNT_CURRENT_DIR), nullptr);
    // Still ours and still usable: shutdown closed the one it created instead.
    Stream* s = fs_open(mine, "/mine.txt", 0, 0, STREAM_OPEN_READ, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(read_all(s), "mine");
    fs_close(mine);
    EXPECT_EQ(mem_default_allocator()->used, heap_before) << "the slots' own file systems leaked";
}
