#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "platform_test_support.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

std::string read_all(PlatformFile file) {
    std::string bytes(64, '\0');
    uint32_t n = platform_file_read(file, bytes.data(), static_cast<uint32_t>(bytes.size()));
    bytes.resize(n);
    return bytes;
}

void make_read_only(const std::string& path, bool read_only) {
    namespace fsys = std::filesystem;
    fsys::permissions(
        path, fsys::perms::owner_write | fsys::perms::group_write | fsys::perms::others_write,
        read_only ? fsys::perm_options::remove : fsys::perm_options::add);
}

} // namespace

TEST(PlatformFiles, DispositionsCreateTruncateOrKeep) {
    TempDir dir;
    std::string path = dir.file("data.bin");

    // Reading needs an existing file and creates nothing.
    EXPECT_EQ(platform_file_open(path.c_str(), PLATFORM_ACCESS_READ, PLATFORM_OPEN_EXISTING),
              PLATFORM_INVALID_FILE);
    EXPECT_FALSE(file_exists(path));

    // No access at all is refused for every disposition, before anything is created.
    EXPECT_EQ(platform_file_open(path.c_str(), 0, PLATFORM_CREATE_ALWAYS), PLATFORM_INVALID_FILE);
    EXPECT_EQ(platform_file_open(path.c_str(), 0, PLATFORM_OPEN_ALWAYS), PLATFORM_INVALID_FILE);
    EXPECT_FALSE(file_exists(path));

    write_whole_file(path, "0123456789");
    PlatformFile file =
        platform_file_open(path.c_str(), PLATFORM_ACCESS_READ, PLATFORM_OPEN_EXISTING);
    ASSERT_NE(file, PLATFORM_INVALID_FILE);
    EXPECT_EQ(read_all(file), "0123456789");
    platform_file_close(file);

    // Read and write, open-always: keeps the contents.
    file = platform_file_open(path.c_str(), PLATFORM_ACCESS_READ | PLATFORM_ACCESS_WRITE,
                              PLATFORM_OPEN_ALWAYS);
    ASSERT_NE(file, PLATFORM_INVALID_FILE);
    EXPECT_EQ(platform_file_write(file, "ab", 2), 2u);
    EXPECT_TRUE(platform_file_seek(file, 0));
    EXPECT_EQ(read_all(file), "ab23456789");
    platform_file_close(file);

    // Open-always creates a missing file, empty.
    std::string fresh = dir.file("fresh.bin");
    file = platform_file_open(fresh.c_str(), PLATFORM_ACCESS_READ | PLATFORM_ACCESS_WRITE,
                              PLATFORM_OPEN_ALWAYS);
    ASSERT_NE(file, PLATFORM_INVALID_FILE);
    uint32_t low = 99, high = 99;
    EXPECT_TRUE(platform_file_size(file, &low, &high));
    EXPECT_EQ(low, 0u);
    EXPECT_EQ(high, 0u);
    platform_file_close(file);
    EXPECT_TRUE(file_exists(fresh));

    // Write, create-always: truncates.
    file = platform_file_open(path.c_str(), PLATFORM_ACCESS_WRITE, PLATFORM_CREATE_ALWAYS);
    ASSERT_NE(file, PLATFORM_INVALID_FILE);
    EXPECT_TRUE(platform_file_size(file, &low, nullptr));
    EXPECT_EQ(low, 0u);
    EXPECT_EQ(platform_file_write(file, "xyz", 3), 3u);
    EXPECT_TRUE(platform_file_sync(file));
    platform_file_close(file);
    EXPECT_EQ(read_whole_file(path), "xyz");
}

TEST(PlatformFiles, AccessLimitsTransfers) {
    TempDir dir;
    std::string path = dir.file("data.bin");
    write_whole_file(path, "hello");

    PlatformFile reader =
        platform_file_open(path.c_str(), PLATFORM_ACCESS_READ, PLATFORM_OPEN_EXISTING);
    ASSERT_NE(reader, PLATFORM_INVALID_FILE);
    EXPECT_EQ(platform_file_write(reader, "x", 1), 0u);
    platform_file_close(reader);

    PlatformFile writer =
        platform_file_open(path.c_str(), PLATFORM_ACCESS_WRITE, PLATFORM_OPEN_EXISTING);
    ASSERT_NE(writer, PLATFORM_INVALID_FILE);
    char byte;
    EXPECT_EQ(platform_file_read(writer, &byte, 1), 0u);
    platform_file_close(writer);
    EXPECT_EQ(read_whole_file(path), "hello"); // open-existing for writing does not truncate
}

TEST(PlatformFiles, FoldersDoNotOpenAsFiles) {
    TempDir dir;
    const unsigned modes[] = {PLATFORM_ACCESS_READ, PLATFORM_ACCESS_WRITE,
                              PLATFORM_ACCESS_READ | PLATFORM_ACCESS_WRITE};
    for (unsigned access : modes) {
        EXPECT_EQ(platform_file_open(dir.path().c_str(), access, PLATFORM_OPEN_EXISTING),
                  PLATFORM_INVALID_FILE)
            << access;
        EXPECT_EQ(platform_file_open(dir.path().c_str(), access, PLATFORM_OPEN_ALWAYS),
                  PLATFORM_INVALID_FILE)
            << access;
    }
    EXPECT_FALSE(platform_file_delete(dir.path().c_str()));
    EXPECT_TRUE(platform_file_exists(dir.path().c_str()));
}

TEST(PlatformFiles, SeekAndShortCounts) {
    TempDir dir;
    std::string path = dir.file("hundred.bin");
    std::string content = make_bytes(100, 7, false);
    write_whole_file(path, content);

    PlatformFile file =
        platform_file_open(path.c_str(), PLATFORM_ACCESS_READ, PLATFORM_OPEN_EXISTING);
    ASSERT_NE(file, PLATFORM_INVALID_FILE);
    char buffer[32];
    EXPECT_TRUE(platform_file_seek(file, 90));
    EXPECT_EQ(platform_file_read(file, buffer, 20), 10u);
    EXPECT_EQ(std::string(buffer, 10), content.substr(90));
    EXPECT_EQ(platform_file_read(file, buffer, 20), 0u);

    EXPECT_TRUE(platform_file_seek(file, 10));
    EXPECT_EQ(platform_file_read(file, buffer, 5), 5u);
    EXPECT_EQ(std::string(buffer, 5), content.substr(10, 5));

    // Past the end: the seek succeeds, the read finds nothing.
    EXPECT_TRUE(platform_file_seek(file, 1000));
    EXPECT_EQ(platform_file_read(file, buffer, 5), 0u);
    platform_file_close(file);

    // A write past the end fills the gap with zeros.
    file = platform_file_open(path.c_str(), PLATFORM_ACCESS_READ | PLATFORM_ACCESS_WRITE,
                              PLATFORM_OPEN_EXISTING);
    ASSERT_NE(file, PLATFORM_INVALID_FILE);
    EXPECT_TRUE(platform_file_seek(file, 104));
    EXPECT_EQ(platform_file_write(file, "end", 3), 3u);
    uint32_t low = 0;
    EXPECT_TRUE(platform_file_size(file, &low, nullptr));
    EXPECT_EQ(low, 107u);
    platform_file_close(file);
    EXPECT_EQ(read_whole_file(path), content + std::string(4, '\0') + "end");
}

TEST(PlatformFiles, SizesBeyondTwoGigabytesSplitIntoHalves) {
    TempDir dir;
    std::string path = dir.file("sparse.bin");
    PlatformFile file = platform_file_open(
        path.c_str(), PLATFORM_ACCESS_READ | PLATFORM_ACCESS_WRITE, PLATFORM_CREATE_ALWAYS);
    ASSERT_NE(file, PLATFORM_INVALID_FILE);
    // Positions are unsigned: 2 GiB must not turn into a negative offset.
    ASSERT_TRUE(platform_file_seek(file, 0x80000000u));
    ASSERT_EQ(platform_file_write(file, "z", 1), 1u);
    uint32_t low = 0, high = 99;
    EXPECT_TRUE(platform_file_size(file, &low, &high));
    EXPECT_EQ(low, 0x80000001u);
    EXPECT_EQ(high, 0u);
    EXPECT_TRUE(platform_file_seek(file, 0x80000000u));
    char byte = 0;
    EXPECT_EQ(platform_file_read(file, &byte, 4), 1u);
    EXPECT_EQ(byte, 'z');
#ifndef _WIN32
    // Over 4 GiB the high half carries the rest.
    ASSERT_EQ(ftruncate(static_cast<int>(file), 0x140000010LL), 0);
    EXPECT_TRUE(platform_file_size(file, &low, &high));
    EXPECT_EQ(low, 0x40000010u);
    EXPECT_EQ(high, 1u);
#endif
    platform_file_close(file);
}

TEST(PlatformFiles, DeleteMoveAndReplace) {
    TempDir dir;
    std::string a = dir.file("a.dat"), b = dir.file("b.dat"), c = dir.file("c.dat");
    write_whole_file(a, "first");
    write_whole_file(b, "second");

    EXPECT_TRUE(platform_file_exists(a.c_str()));
    EXPECT_FALSE(platform_file_exists(c.c_str()));

    // Move never replaces.
    EXPECT_FALSE(platform_file_move(a.c_str(), b.c_str()));
    EXPECT_EQ(read_whole_file(a), "first");
    EXPECT_EQ(read_whole_file(b), "second");
    EXPECT_TRUE(platform_file_move(a.c_str(), c.c_str()));
    EXPECT_FALSE(platform_file_exists(a.c_str()));
    EXPECT_EQ(read_whole_file(c), "first");
    EXPECT_FALSE(platform_file_move(a.c_str(), dir.file("d.dat").c_str()));

    // Replace does, and the source is gone afterwards.
    EXPECT_TRUE(platform_file_replace(c.c_str(), b.c_str()));
    EXPECT_FALSE(platform_file_exists(c.c_str()));
    EXPECT_EQ(read_whole_file(b), "first");
    EXPECT_TRUE(platform_file_replace(b.c_str(), a.c_str())); // onto a missing target too
    EXPECT_EQ(read_whole_file(a), "first");
    EXPECT_FALSE(platform_file_replace(b.c_str(), a.c_str()));

    EXPECT_TRUE(platform_file_delete(a.c_str()));
    EXPECT_FALSE(platform_file_exists(a.c_str()));
    EXPECT_FALSE(platform_file_delete(a.c_str()));
}

TEST(PlatformFiles, ReadOnlyFilesResistDeleteAndReplace) {
    TempDir dir;
    std::string locked = dir.file("locked.dat"), other = dir.file("other.dat");
    write_whole_file(locked, "keep");
    write_whole_file(other, "new");
    make_read_only(locked, true);

    EXPECT_FALSE(platform_file_delete(locked.c_str()));
#ifndef _WIN32
    // Windows refuses these too; Wine leaves them to the Unix permissions,
    // which do not hold back the administrator the tests may run as.
    EXPECT_FALSE(platform_file_replace(other.c_str(), locked.c_str()));
    EXPECT_EQ(platform_file_open(locked.c_str(), PLATFORM_ACCESS_WRITE, PLATFORM_CREATE_ALWAYS),
              PLATFORM_INVALID_FILE);
    EXPECT_EQ(platform_file_open(locked.c_str(), PLATFORM_ACCESS_READ | PLATFORM_ACCESS_WRITE,
                                 PLATFORM_OPEN_EXISTING),
              PLATFORM_INVALID_FILE);
    EXPECT_TRUE(platform_file_exists(other.c_str()));
#endif
    EXPECT_EQ(read_whole_file(locked), "keep");
    PlatformFile reader =
        platform_file_open(locked.c_str(), PLATFORM_ACCESS_READ, PLATFORM_OPEN_EXISTING);
    EXPECT_NE(reader, PLATFORM_INVALID_FILE);
    platform_file_close(reader);

    // A read-only leftover under a work file's name is cleared all the same,
    // by path and within a held folder.
    EXPECT_TRUE(platform_path_clear(locked.c_str()));
    write_whole_file(locked, "left over");
    make_read_only(locked, true);
    PlatformFolder folder = platform_folder_open(dir.path().c_str());
    EXPECT_TRUE(platform_folder_clear(folder, "locked.dat"));
    platform_folder_close(folder);
    EXPECT_FALSE(platform_file_exists(locked.c_str()));
}
