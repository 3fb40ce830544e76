#include <gtest/gtest.h>

#include "archive/archive_fs.h"
#include "archive/archive_test_support.h"
#include "archive/epk2_format.h"
#include "fs/disk_fs.h"
#include "stream/stream.h"
#include "support/test_archive_writer.h"
#include "support/test_support.h"

namespace {

// The same archive opened from a file and from memory: both must serve the
// same contents.
struct BothArchives {
    explicit BothArchives(const TestArchive& archive) : bytes(build_test_archive(archive)) {
        disk.reset(archive_open(nullptr, save_archive(dir, bytes).c_str(), nullptr));
        memory.reset(archive_open_memory(bytes.data(), uint32_t(bytes.size()), nullptr));
    }
    std::vector<FileSystem*> both() const { return {disk.get(), memory.get()}; }

    TempDir dir;
    std::string bytes;
    FsPtr disk;
    FsPtr memory;
};

std::string read_entry(FileSystem* fs, const char* path, uint32_t chunk = 4096) {
    Stream* s = fs_open(fs, path, 0, 0, STREAM_OPEN_READ, nullptr);
    return s ? read_and_close(s, chunk) : std::string("<not opened>");
}

} // namespace

TEST(ArchiveRead, StoredCompressedAndEmptyEntriesReadBack) {
    TestArchive a;
    a.files = {
        {"/a.txt", "hello"},
        {"/empty.bin", ""},
        {"/c.txt", make_bytes(3000, 1), 0, true},
        {"/d.bin", make_bytes(2000, 2, false)},
    };
    BothArchives archives(a);
    for (FileSystem* fs : archives.both()) {
        ASSERT_NE(fs, nullptr);
        Stream* s = fs_open(fs, "/a.txt", 0, 0, STREAM_OPEN_READ, nullptr);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(stream_size(s), 5u);
        char buffer[64];
        EXPECT_EQ(stream_read(s, buffer, 3), 3u);
        EXPECT_EQ(stream_state(s), STREAM_STATE_MORE);
        EXPECT_EQ(stream_read(s, buffer + 3, sizeof buffer - 3), 2u);
        EXPECT_EQ(std::string(buffer, 5), "hello");
        EXPECT_EQ(stream_state(s), STREAM_STATE_END);
        stream_close(s);

        // An empty entry in the middle must not read the bytes after it.
        s = fs_open(fs, "/empty.bin", 0, 0, STREAM_OPEN_READ, nullptr);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(stream_size(s), 0u);
        EXPECT_EQ(stream_state(s), STREAM_STATE_END);
        EXPECT_EQ(stream_read(s, buffer, sizeof buffer), 0u);
        stream_close(s);

        // A compressed entry delivers exactly its size however much is asked.
        s = fs_open(fs, "/c.txt", 0, 0, STREAM_OPEN_READ, nullptr);
        ASSERT_NE(s, nullptr);
        std::string all(10000, '\0');
        EXPECT_EQ(stream_read(s, all.data(), uint32_t(all.size())), 3000u);
        EXPECT_EQ(all.substr(0, 3000), make_bytes(3000, 1));
        EXPECT_EQ(stream_state(s), STREAM_STATE_END);
        EXPECT_EQ(stream_read(s, all.data(), 10), 0u);
        stream_close(s);

        EXPECT_EQ(read_entry(fs, "/d.bin", 7), make_bytes(2000, 2, false));
    }
}

TEST(ArchiveRead, EveryKeyDescramblesStoredAndCompressedData) {
    TestArchive a;
    std::vector<std::string> contents;
    for (uint8_t key = 0; key <= 4; ++key) {
        for (bool compress : {false, true}) {
            std::string name = "/k" + std::to_string(key) + (compress ? "z" : "s");
            a.files.push_back({name + "_600", make_bytes(600, key, false), key, compress});
            a.files.push_back({name + "_3000", make_bytes(3000, key + 10), key, compress});
        }
    }
    BothArchives archives(a);
    for (FileSystem* fs : archives.both()) {
        ASSERT_NE(fs, nullptr);
        for (const TestArchiveFile& f : a.files) {
            EXPECT_EQ(read_entry(fs, f.path.c_str()), f.contents) << f.path;
            // Chunks of 7 cross the 1024-byte scramble limit mid-read.
            EXPECT_EQ(read_entry(fs, f.path.c_str(), 7), f.contents) << f.path;
        }
    }

    // The stored bytes really are scrambled: 600 stored bytes under key 2
    // all differ by key 2's table, position 300 by its entry 44.
    Stream* raw = archive_open_stored(archives.disk.get(), "/k2s_600", nullptr);
    ASSERT_NE(raw, nullptr);
    std::string stored = read_and_close(raw);
    std::string plain = make_bytes(600, 2, false);
    ASSERT_EQ(stored.size(), 600u);
    EXPECT_EQ(uint8_t(stored[300]), uint8_t(plain[300] ^ epk2_key(2)[44]));
    EXPECT_EQ(uint8_t(stored[599]), uint8_t(plain[599] ^ epk2_key(2)[599 % 256]));
}

TEST(ArchiveRead, StoredBytesBeyondTheZlibStreamAreIgnored) {
    TestArchive a;
    a.files = {
        {"/t1.txt", make_bytes(4000, 5), 0, true, 0, "TRAILING GARBAGE"},
        {"/t2.txt", make_bytes(100, 6), 4, true, 0, std::string(3000, 'x')},
        {"/after.txt", "next"},
    };
    BothArchives archives(a);
    for (FileSystem* fs : archives.both()) {
        ASSERT_NE(fs, nullptr);
        EXPECT_EQ(read_entry(fs, "/t1.txt"), make_bytes(4000, 5));
        EXPECT_EQ(read_entry(fs, "/t2.txt", 33), make_bytes(100, 6));
        EXPECT_EQ(read_entry(fs, "/after.txt"), "next");
    }

    // A record whose sizes are equal is stored, whatever its bytes look like:
    // here the bytes of a zlib stream.
    std::string zlib_bytes =
        read_and_close(archive_open_stored(archives.disk.get(), "/t1.txt", nullptr));
    TestArchive b;
    b.files = {{"/z.bin", zlib_bytes}};
    BothArchives stored(b);
    for (FileSystem* fs : stored.both()) {
        ASSERT_NE(fs, nullptr);
        EXPECT_EQ(read_entry(fs, "/z.bin"), zlib_bytes);
    }
}

TEST(ArchiveRead, CutCompressedDataEndsEarlyWithoutHanging) {
    TestArchive a;
    a.files = {{"/big.txt", make_bytes(20000, 8, false), 1, true}};
    std::string bytes = build_test_archive(a);
    uint32_t stored_field = test_file_field(1, 1, offsetof(Epk2FileRecord, stored_size));
    uint32_t stored_size = test_table_get_u32(bytes, stored_field);
    test_table_set_u32(bytes, stored_field, stored_size / 2);

    FsPtr fs(archive_open_memory(bytes.data(), uint32_t(bytes.size()), nullptr));
    ASSERT_TRUE(fs);
    Stream* s = fs_open(fs.get(), "/big.txt", 0, 0, STREAM_OPEN_READ, nullptr);
    ASSERT_NE(s, nullptr);
    std::string out(30000, '\0');
    uint32_t n = stream_read(s, out.data(), uint32_t(out.size()));
    EXPECT_LT(n, 20000u);
    EXPECT_EQ(out.substr(0, n), make_bytes(20000, 8, false).substr(0, n));
    EXPECT_EQ(stream_state(s), STREAM_STATE_END);
    EXPECT_EQ(stream_read(s, out.data(), 100), 0u);
    stream_close(s);
}

TEST(ArchiveRead, EntriesCannotBeOpenedForWriting) {
    TestArchive a;
    a.files = {{"/info.txt", "version=2\r\n"}};
    BothArchives archives(a);
    std::string path = archives.dir.file("test.dat");
    for (FileSystem* fs : archives.both()) {
        ASSERT_NE(fs, nullptr);
        RawMessageCapture messages;
        EXPECT_EQ(fs_open(fs, "/info.txt", 0, 0, STREAM_OPEN_WRITE, nullptr), nullptr);
        EXPECT_EQ(fs_open(fs, "/info.txt", 0, 0, STREAM_OPEN_READ | STREAM_OPEN_WRITE, nullptr),
                  nullptr);
        EXPECT_EQ(messages.messages().size(), 2u);
    }
    // The archive file is untouched and still serves the entry.
    EXPECT_EQ(read_whole_file(path), archives.bytes);
    EXPECT_EQ(read_entry(archives.disk.get(), "info.txt"), "version=2\r\n");
}

TEST(ArchiveInfo, RecordFiguresAndStoredBytes) {
    TestArchive a;
    a.files = {
        {"/x.txt", "plain"},
        {"/dir/y.txt", make_bytes(2000, 9), 3, true, 0x21},
        {"/dir/nothing", ""},
    };
    BothArchives archives(a);
    for (FileSystem* fs : archives.both()) {
        ASSERT_NE(fs, nullptr);
        ArchiveEntryInfo info{};
        ASSERT_TRUE(archive_entry_info(fs, "dir/y.txt", &info));
        EXPECT_EQ(info.size, 2000u);
        EXPECT_EQ(info.key, 3);
        EXPECT_EQ(info.attributes, 0x21);
        EXPECT_EQ(info.data_offset % EPK2_ALIGNMENT, 0u);
        Stream* raw = archive_open_stored(fs, "/dir/y.txt", nullptr);
        ASSERT_NE(raw, nullptr);
        EXPECT_EQ(stream_size(raw), info.stored_size);
        EXPECT_EQ(read_and_close(raw), archives.bytes.substr(info.data_offset, info.stored_size));

        ASSERT_TRUE(archive_entry_info(fs, "/x.txt", &info));
        EXPECT_EQ(info.stored_size, 5u);
        EXPECT_EQ(info.size, 5u);
        EXPECT_EQ(info.key, 0);

        raw = archive_open_stored(fs, "/dir/nothing", nullptr);
        ASSERT_NE(raw, nullptr);
        EXPECT_EQ(stream_state(raw), STREAM_STATE_END);
        EXPECT_EQ(read_and_close(raw), "");

        RawMessageCapture messages;
        EXPECT_FALSE(archive_entry_info(fs, "/dir", &info));
        EXPECT_EQ(archive_open_stored(fs, "/missing", nullptr), nullptr);
    }

    FsPtr disk(disk_fs_create(nullptr, archives.dir.path().c_str(), nullptr));
    ASSERT_TRUE(disk);
    ArchiveEntryInfo info{};
    ArchiveHeaderInfo header{};
    EXPECT_FALSE(archive_is_archive(disk.get()));
    EXPECT_FALSE(archive_is_archive(nullptr));
    EXPECT_FALSE(archive_entry_info(disk.get(), "/test.dat", &info));
    EXPECT_FALSE(archive_header_info(disk.get(), &header));
    EXPECT_EQ(archive_open_stored(disk.get(), "/test.dat", nullptr), nullptr);
}
