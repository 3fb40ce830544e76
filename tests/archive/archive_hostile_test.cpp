// Archives come from downloads: every damaged archive must be refused with a
// message or stay safe to use. These tests also run under the sanitizers.
#include <gtest/gtest.h>

#include <cstddef>

#include "archive/archive_fs.h"
#include "archive/archive_test_support.h"
#include "archive/epk2_format.h"
#include "stream/stream.h"
#include "support/test_archive_writer.h"
#include "support/test_support.h"

namespace {

// Two directories, three files: stored, compressed and scrambled, empty.
TestArchive small_archive() {
    TestArchive a;
    a.files = {
        {"/info.txt", "version=1\r\n"},
        {"/_extract/a.bin", make_bytes(300, 1), 2, true},
        {"/_extract/e", ""},
    };
    return a;
}
constexpr uint32_t SMALL_DIRS = 2;

// Opens the bytes from memory and from a file: both must take them alike.
bool opens(const std::string& bytes, const TempDir& dir) {
    const bool from_memory = judge_archive(bytes, nullptr).opened;
    const std::string path = save_archive(dir, bytes);
    const bool from_disk = judge_archive(bytes, &path).opened;
    EXPECT_EQ(from_memory, from_disk);
    return from_disk;
}

std::string refusal_text(const std::string& bytes) {
    return judge_archive(bytes, nullptr).refusal;
}

} // namespace

TEST(ArchiveHostile, EveryTruncationIsRefusedUntilTheDataAreWhole) {
    std::string bytes = build_test_archive(small_archive());
    // The last block (the empty file has none) ends inside the final 32.
    uint32_t last_data = 0;
    {
        FsPtr fs(archive_open_memory(bytes.data(), uint32_t(bytes.size()), nullptr));
        ASSERT_TRUE(fs);
        ArchiveEntryInfo info{};
        for (const char* p : {"/info.txt", "/_extract/a.bin"}) {
            ASSERT_TRUE(archive_entry_info(fs.get(), p, &info));
            last_data = std::max(last_data, info.data_offset + info.stored_size);
        }
    }
    TempDir dir;
    for (uint32_t length = 0; length <= bytes.size(); ++length) {
        EXPECT_EQ(opens(bytes.substr(0, length), dir), length >= last_data) << length;
    }
    EXPECT_EQ(refusal_text(bytes.substr(0, 3)), "Error: Not EPK2 format.\n");
    EXPECT_EQ(refusal_text(bytes.substr(0, 5)), "Error: Not support version of EPK2.\n");
}

TEST(ArchiveHostile, BrokenTreeLinksAreRefused) {
    std::string good = build_test_archive(small_archive());
    auto dir_field = [](uint32_t d, size_t f) { return test_dir_field(d, uint32_t(f)); };
    auto file_field = [](uint32_t j, size_t f) {
        return test_file_field(SMALL_DIRS, j, uint32_t(f));
    };
    struct Damage {
        const char* what;
        uint32_t position;
        uint32_t value;
        bool byte = false;
    };
    const Damage damages[] = {
        {"child is the root", dir_field(1, offsetof(Epk2DirRecord, first_child)), 1},
        {"child is itself", dir_field(2, offsetof(Epk2DirRecord, first_child)), 2},
        {"sibling loop", dir_field(2, offsetof(Epk2DirRecord, next_sibling)), 2},
        {"sibling back to root", dir_field(2, offsetof(Epk2DirRecord, next_sibling)), 1},
        {"file list loop", file_field(2, offsetof(Epk2FileRecord, next_file)), 2},
        {"file list cycle", file_field(3, offsetof(Epk2FileRecord, next_file)), 2},
        {"shared file list", dir_field(2, offsetof(Epk2DirRecord, first_file)), 1},
        {"child beyond count", dir_field(1, offsetof(Epk2DirRecord, first_child)), 3},
        {"file beyond count", dir_field(1, offsetof(Epk2DirRecord, first_file)), 4},
        {"next file beyond count", file_field(1, offsetof(Epk2FileRecord, next_file)), 4},
        {"parent beyond count", dir_field(2, offsetof(Epk2DirRecord, parent)), 3},
        {"name outside table", file_field(1, offsetof(Epk2FileRecord, name_offset)), 0x10000},
        {"data beyond the file", file_field(1, offsetof(Epk2FileRecord, data_offset)), 0xFFFFFFF0},
        {"unknown key", file_field(1, offsetof(Epk2FileRecord, key)), 5, true},
    };
    for (const Damage& d : damages) {
        std::string bytes = good;
        if (d.byte) {
            test_table_set_u8(bytes, d.position, uint8_t(d.value));
        } else {
            test_table_set_u32(bytes, d.position, d.value);
        }
        std::string text = refusal_text(bytes);
        EXPECT_EQ(text.rfind("Error: ", 0), 0u) << d.what << ": " << text;
    }

    // Data window that wraps around 32 bits, and one just past the end.
    std::string bytes = good;
    test_table_set_u32(bytes, file_field(1, offsetof(Epk2FileRecord, stored_size)), 0x20);
    test_table_set_u32(bytes, file_field(1, offsetof(Epk2FileRecord, data_offset)), 0xFFFFFFF0);
    EXPECT_EQ(refusal_text(bytes).rfind("Error: ", 0), 0u);
    bytes = good;
    test_table_set_u32(bytes, file_field(1, offsetof(Epk2FileRecord, data_offset)),
                       uint32_t(good.size()) - 4);
    EXPECT_EQ(refusal_text(bytes).rfind("Error: ", 0), 0u);
}

TEST(ArchiveHostile, BadNamesAreRefused) {
    TestArchive a;
    a.files = {{"/ab", "x"}};
    std::string good = build_test_archive(a);
    uint32_t name_field = test_file_field(1, 1, offsetof(Epk2FileRecord, name_offset));
    uint32_t name = test_table_get_u32(good, name_field);
    ArchiveHeaderInfo header{};
    {
        FsPtr fs(archive_open_memory(good.data(), uint32_t(good.size()), nullptr));
        ASSERT_TRUE(fs);
        ASSERT_TRUE(archive_header_info(fs.get(), &header));
    }
    uint32_t table_size = header.table_end - EPK2_HEADER_SIZE;

    std::string slash = good;
    test_table_set_u8(slash, name + 1, '/'); // "a/"
    EXPECT_EQ(refusal_text(slash).rfind("Error: ", 0), 0u);

    // A name that runs to the end of the table without a NUL.
    std::string open_ended = good;
    for (uint32_t p = name; p < table_size; ++p) {
        test_table_set_u8(open_ended, p, 'n');
    }
    EXPECT_EQ(refusal_text(open_ended).rfind("Error: ", 0), 0u);
    test_table_set_u32(open_ended, name_field, table_size);
    EXPECT_EQ(refusal_text(open_ended).rfind("Error: ", 0), 0u);

    // A name inside the table but not in the name area is merely odd: the
    // bytes are still read safely.
    std::string odd = good;
    test_table_set_u32(odd, name_field, name + 1); // "b"
    FsPtr fs(archive_open_memory(odd.data(), uint32_t(odd.size()), nullptr));
    ASSERT_TRUE(fs);
    EXPECT_EQ(enumerate_all(fs.get(), "/", 1), (std::vector<SeenEntry>{{"/b", 1, 0}}));
}

TEST(ArchiveHostile, PathsLongerThanANameCanHoldAreRefused) {
    std::string levels;
    for (int i = 0; i < 254; ++i) {
        levels += "/d";
    }
    TestArchive fits;
    fits.files = {{levels + "/ff", "x"}}; // 511 bytes
    TestArchive too_long;
    too_long.files = {{levels + "/fff", "x"}}; // 512 bytes
    TestArchive long_name;
    long_name.files = {{"/" + std::string(511, 'n'), "x"}};

    std::string fits_bytes = build_test_archive(fits);
    FsPtr fs(archive_open_memory(fits_bytes.data(), uint32_t(fits_bytes.size()), nullptr));
    ASSERT_TRUE(fs);
    std::vector<SeenEntry> seen = enumerate_all(fs.get(), "/", 1);
    ASSERT_EQ(seen.size(), 255u);
    EXPECT_EQ(seen.back().name, levels + "/ff");

    EXPECT_EQ(refusal_text(build_test_archive(too_long)).rfind("Error: ", 0), 0u);
    EXPECT_EQ(refusal_text(build_test_archive(long_name)).rfind("Error: ", 0), 0u);
}

TEST(ArchiveHostile, HugeCountsAllocateNothingBeyondTheFile) {
    // Counts that would need gigabytes are refused from the header alone.
    std::string bytes = build_test_archive({});
    test_set_u32(bytes, 20, 0x0AAAAAAB); // 24 * this wraps to a small 32-bit value
    CountingAllocator allocator;
    RawMessageCapture messages;
    EXPECT_EQ(archive_open_memory(bytes.data(), uint32_t(bytes.size()), &allocator.base), nullptr);
    EXPECT_EQ(allocator.base.used, 0u);
    EXPECT_EQ(messages.messages().size(), 1u);

    // A header that claims a table running past the file.
    bytes = build_test_archive({});
    test_set_u32(bytes, 16, 0x7FFFFFE0);
    EXPECT_EQ(archive_open_memory(bytes.data(), uint32_t(bytes.size()), &allocator.base), nullptr);
    EXPECT_EQ(allocator.live_blocks, 0);

    EXPECT_EQ(archive_open_memory(nullptr, 100, &allocator.base), nullptr);
    EXPECT_EQ(allocator.live_blocks, 0);
}
