// Builds EPK2 archive bytes in memory for tests, laid out as the builder
// writes them: records in creation order, distinct names sorted, table
// padded to 32 bytes and scrambled with key 1, each data block at a 32-byte
// boundary. Independent of the library's reader and stream code; it shares
// only the key tables (epk2_key) and zlib.
//
//   TestArchive a;
//   a.files.push_back({"/info.txt", "version=1.0\r\n"});
//   a.files.push_back({"/_extract/readme.txt", text, 2, true}); // key 2, zlib
//   std::string bytes = build_test_archive(a);
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct TestArchiveFile {
    TestArchiveFile() = default;
    TestArchiveFile(std::string path, std::string contents, uint8_t key = 0, bool compress = false,
                    uint8_t attributes = 0, std::string trailing = {}, uint32_t cut_to = 0)
        : path(std::move(path)), contents(std::move(contents)), key(key), compress(compress),
          attributes(attributes), trailing(std::move(trailing)), cut_to(cut_to) {}

    std::string path;      // "/dir/sub/name" (leading "/" optional); parents are made
    std::string contents;  // the file's bytes after inflation
    uint8_t key = 0;       // 0: stored plain; 1-4: scrambles the first 1024 stored bytes
    bool compress = false; // store a zlib stream (level 5) instead of the bytes
    uint8_t attributes = 0;
    std::string trailing; // extra stored bytes after the zlib stream (compressed only)
    uint32_t cut_to = 0;  // compressed: keep at most this many stored bytes (0: all)
};

// Choices the format leaves to a writer, each made otherwise than the
// builder makes it; the default is the builder's layout.
struct TestLayout {
    bool names_descending = false; // name area in descending byte order (root's "" last)
    bool records_reversed = false; // directories but the root, and files, numbered backwards
    bool blocks_reversed = false;  // data blocks in reverse record order
    uint32_t gap = 0;              // zero bytes before each data block (a multiple of 32)
    bool empty_at_zero = false;    // empty files get data_offset 0
    uint32_t reserved = 0;         // written into every reserved header field
    uint16_t index_bias = 0;       // added to each file's index field
};

struct TestArchive {
    std::vector<std::string> dirs; // directories to make first, in order (e.g. empty ones)
    std::vector<TestArchiveFile> files;
    TestLayout layout;
};

// Directory records: the root is 1, the others follow in the order they are
// first named (dirs, then the parents of files). Files keep their order.
// (Both unless layout.records_reversed.) A path with an empty component
// ("/a//b", "/") makes records with empty names.
std::string build_test_archive(const TestArchive& archive);

// Damage helpers. Table positions count from offset 32 (the table's start);
// values are plain and scrambled on the way in/out exactly as the format does.
uint32_t test_dir_field(uint32_t dir_index, uint32_t field_offset);
uint32_t test_file_field(uint32_t dir_count, uint32_t file_index, uint32_t field_offset);
uint32_t test_table_get_u32(const std::string& archive, uint32_t table_position);
void test_table_set_u32(std::string& archive, uint32_t table_position, uint32_t value);
void test_table_set_u8(std::string& archive, uint32_t table_position, uint8_t value);
// Plain little-endian access at an absolute offset (header fields).
uint32_t test_get_u32(const std::string& bytes, uint32_t offset);
void test_set_u32(std::string& bytes, uint32_t offset, uint32_t value);

// Directories 1 root, 2 /sub, 3 /void (empty); files 1 /a.txt (zlib, key 1),
// 2 /b.bin (stored, key 2), 3 /sub/c.txt (zlib, key 3). The name area starts
// at table position 3*24 + 3*28 = 156 (0x9C), so the table's first bytes,
// the root's name offset, read as the one-byte name "\x9C".
constexpr uint32_t SMALL_TEST_ARCHIVE_DIRS = 3;
TestArchive small_test_archive();
// Where the last stored data block ends: a copy cut shorter lacks data.
uint32_t test_stored_end(const std::string& archive);
