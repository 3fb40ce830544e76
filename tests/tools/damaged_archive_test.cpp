// "list" and "verify" over a folder of deliberately broken archives: cut at
// every length, header and table fields at extreme values, looping links,
// data beyond the end, broken zlib streams. Each must end with status 1 and a
// message naming the file, or with 0 where the bytes still form a readable
// archive; none may crash or hang.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "archive/epk2_format.h"
#include "common/test_support.h"
#include "tools/tool_test_support.h"

namespace {

using namespace tooltest;

// Field offsets inside the records.
constexpr uint32_t DIR_NAME = 0, DIR_PARENT = 4, DIR_FIRST_CHILD = 8, DIR_FIRST_FILE = 12,
                   DIR_PREV = 16, DIR_NEXT = 20;
constexpr uint32_t FILE_NAME = 0, FILE_INDEX = 4, FILE_ATTRIBUTES = 6, FILE_KEY = 7,
                   FILE_DATA_OFFSET = 8, FILE_STORED = 12, FILE_SIZE = 16, FILE_PREV = 20,
                   FILE_NEXT = 24;

// Directories 1 root, 2 /sub, 3 /void (empty); files 1 /a.txt (zlib, key 1),
// 2 /b.bin (stored, key 2), 3 /sub/c.txt (zlib, key 3). The name area starts
// at table position 3*24 + 3*28 = 156 (0x9C), so the table's first bytes,
// the root's name offset, read as the one-byte name "\x9C".
constexpr uint32_t DIRS = 3;
TestArchive small_archive() {
    TestArchive archive;
    archive.dirs = {"/sub", "/void"};
    archive.files = {
        {"/a.txt", make_bytes(300, 1), 1, true},
        {"/b.bin", make_bytes(40, 2, false), 2, false},
        {"/sub/c.txt", make_bytes(200, 3), 3, true},
    };
    return archive;
}
const char* const SMALL_FILES[] = {"/a.txt", "/b.bin", "/sub/c.txt"};

// Whole: list and verify succeed, verify finds nothing (status 0 both).
// Damaged: the table is readable (list 0) but verify reports the entry (1).
// Refused: the archive is not readable at all (1 both).
enum class Outcome { Whole, Damaged, Refused };

Outcome outcome_of(char code) {
    return code == 'W' ? Outcome::Whole : code == 'D' ? Outcome::Damaged : Outcome::Refused;
}

uint32_t stored_end(const std::string& archive) {
    uint32_t dirs = test_get_u32(archive, 20);
    uint32_t files = test_get_u32(archive, 24);
    uint32_t end = test_get_u32(archive, 16);
    for (uint32_t j = 1; j <= files; ++j) {
        uint32_t offset = test_table_get_u32(archive, file_field(dirs, j, FILE_DATA_OFFSET));
        uint32_t stored = test_table_get_u32(archive, file_field(dirs, j, FILE_STORED));
        end = std::max(end, offset + stored);
    }
    return end;
}

class DamagedArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = join(temp_.path(), "broken");
        make_folder(folder_);
    }

    // Saves bytes as folder/name (code page 932) and runs list and verify.
    // damaged: the entry verify must name; files: how many verify must read
    // (0: not checked).
    void expect(const std::string& name, const std::string& bytes, Outcome expected,
                const std::string& damaged = "", int files = 0) {
        SCOPED_TRACE(name);
        std::string path = join(folder_, name);
        write_file(path, bytes);
        std::string shown = arg(path);
        ToolRun list = run_tool({"list", shown});
        ToolRun verify = run_tool({"verify", shown});
        std::string checked = std::to_string(files) + " files checked";
        switch (expected) {
        case Outcome::Refused:
            EXPECT_EQ(list.status, 1) << list.out << list.err;
            EXPECT_EQ(verify.status, 1) << verify.out << verify.err;
            EXPECT_TRUE(contains(list.err, "epk2: " + shown + ": ")) << list.err;
            EXPECT_TRUE(contains(verify.err, "epk2: " + shown + ": ")) << verify.err;
            EXPECT_EQ(list.out, "");
            EXPECT_EQ(verify.out, "");
            break;
        case Outcome::Whole:
            EXPECT_EQ(list.status, 0) << list.err;
            EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
            EXPECT_EQ(list.err, "");
            EXPECT_EQ(verify.err, "");
            EXPECT_TRUE(contains(verify.out, shown + ": ")) << verify.out;
            EXPECT_TRUE(contains(verify.out, " 0 damaged")) << verify.out;
            EXPECT_FALSE(contains(verify.out, "DAMAGED")) << verify.out;
            if (files) {
                EXPECT_TRUE(contains(verify.out, checked)) << verify.out;
            }
            break;
        case Outcome::Damaged:
            EXPECT_EQ(list.status, 0) << list.err;
            EXPECT_TRUE(contains(list.out, damaged)) << list.out;
            EXPECT_EQ(verify.status, 1) << verify.out << verify.err;
            EXPECT_TRUE(contains(verify.out, "DAMAGED " + damaged + ": ")) << verify.out;
            EXPECT_TRUE(contains(verify.out, " 1 damaged")) << verify.out;
            EXPECT_TRUE(contains(verify.err, "epk2: " + shown + ": 1 entry is damaged"))
                << verify.err;
            if (files) {
                EXPECT_TRUE(contains(verify.out, checked)) << verify.out;
            }
            break;
        }
    }

    TempDir temp_;
    std::string folder_;
};

TEST_F(DamagedArchiveTest, EveryCutShortCopyIsRefusedUntilTheLastStoredByte) {
    // Smaller still, as every length is tried: an empty folder, a zlib
    // entry and, last, a stored one.
    TestArchive tiny;
    tiny.dirs = {"/e"};
    tiny.files = {{"/z", make_bytes(90, 6), 1, true}, {"/e/s", "stored", 2, false}};
    const std::string whole = build_test_archive(tiny);
    const uint32_t needed = stored_end(whole);
    // The last block ends inside its padding, so a few cuts keep every byte
    // that the table points at: those are still whole archives.
    ASSERT_LT(needed, whole.size());
    ASSERT_EQ(whole.size() % 32, 0u);
    for (size_t length = 0; length <= whole.size(); ++length) {
        char name[32];
        std::snprintf(name, sizeof name, "cut-%04zu.dat", length);
        expect(name, whole.substr(0, length), length < needed ? Outcome::Refused : Outcome::Whole,
               "", length < needed ? 0 : 2);
    }
}

TEST_F(DamagedArchiveTest, HeaderFieldsAtExtremeValues) {
    const std::string whole = build_test_archive(small_archive());
    const uint32_t values[] = {0, 1, 0x7FFFFFFF, 0xFFFFFFFF};
    // One code per value: W whole, R refused. The reserved words are not
    // read; every other field at these values breaks the archive (a table
    // end of 0 or 1 cannot hold the records, one directory leaves the root
    // linking to directory 2 beyond the count, no or one file leaves links
    // to files 1 and 3 beyond it).
    struct Field {
        uint32_t offset;
        const char* name;
        const char* codes;
    } fields[] = {
        {0, "magic", "RRRR"},       {4, "version", "RRRR"},     {8, "reserved8", "WWWW"},
        {12, "reserved12", "WWWW"}, {16, "table_end", "RRRR"},  {20, "dir_count", "RRRR"},
        {24, "file_count", "RRRR"}, {28, "reserved28", "WWWW"},
    };
    for (const Field& field : fields) {
        for (int v = 0; v < 4; ++v) {
            std::string bytes = whole;
            test_set_u32(bytes, field.offset, values[v]);
            char name[64];
            std::snprintf(name, sizeof name, "header-%s-%08X.dat", field.name, values[v]);
            expect(name, bytes, outcome_of(field.codes[v]), "", 3);
        }
    }
    // The reserved half-word beside the version is not read either.
    std::string reserved = whole;
    reserved[6] = reserved[7] = char(0xFF);
    expect("header-reserved6.dat", reserved, Outcome::Whole, "", 3);

    std::string version = whole;
    version[4] = 33;
    expect("header-version-33.dat", version, Outcome::Refused);
    EXPECT_TRUE(contains(run_tool({"list", join(folder_, "header-version-33.dat")}).err,
                         "Not support version of EPK2."));
    EXPECT_TRUE(contains(run_tool({"list", join(folder_, "header-magic-00000000.dat")}).err,
                         "Not EPK2 format."));
}

TEST_F(DamagedArchiveTest, DirectoryRecordFieldsAtExtremeValues) {
    const std::string whole = build_test_archive(small_archive());
    const uint32_t values[] = {0, 1, 0x7FFFFFFF, 0xFFFFFFFF};
    // Codes per value (0, 1, 0x7FFFFFFF, 0xFFFFFFFF). Any index beyond the
    // counts is refused, even in links the reader never follows (parent,
    // prev_sibling). Index 1 where a child or sibling is expected links the
    // root into the tree a second time. 0 unlinks what followed, which
    // leaves a smaller whole archive. Name offset 0 gives the name "\x9C",
    // offset 1 an empty name (refused); the root's name is never read.
    struct Case {
        uint32_t dir;
        uint32_t field;
        const char* name;
        const char* codes;
    } cases[] = {
        {1, DIR_NAME, "name", "WWWW"},         {1, DIR_PARENT, "parent", "WWRR"},
        {1, DIR_FIRST_CHILD, "child", "WRRR"}, {1, DIR_FIRST_FILE, "file", "WWRR"},
        {1, DIR_PREV, "prev", "WWRR"},         {1, DIR_NEXT, "next", "WWRR"},
        {2, DIR_NAME, "name", "WRRR"},         {2, DIR_PARENT, "parent", "WWRR"},
        {2, DIR_FIRST_CHILD, "child", "WRRR"}, {2, DIR_FIRST_FILE, "file", "WRRR"},
        {2, DIR_PREV, "prev", "WWRR"},         {2, DIR_NEXT, "next", "WRRR"},
        {3, DIR_NAME, "name", "WRRR"},         {3, DIR_PARENT, "parent", "WWRR"},
        {3, DIR_FIRST_CHILD, "child", "WRRR"}, {3, DIR_FIRST_FILE, "file", "WRRR"},
        {3, DIR_PREV, "prev", "WWRR"},         {3, DIR_NEXT, "next", "WRRR"},
    };
    for (const Case& c : cases) {
        for (int v = 0; v < 4; ++v) {
            std::string bytes = whole;
            test_table_set_u32(bytes, dir_field(c.dir, c.field), values[v]);
            char name[64];
            std::snprintf(name, sizeof name, "dir%u-%s-%08X.dat", c.dir, c.name, values[v]);
            expect(name, bytes, outcome_of(c.codes[v]));
        }
    }
}

TEST_F(DamagedArchiveTest, FileRecordFieldsAtExtremeValues) {
    const std::string whole = build_test_archive(small_archive());
    const uint32_t values[] = {0, 1, 0x7FFFFFFF, 0xFFFFFFFF};
    // Codes per value; D: verify names the file and reads the other two.
    // The word at offset 4 holds index, attributes and key: 0 and 1 make the
    // key 0, so a scrambled zlib block no longer inflates while a scrambled
    // stored block is read as it lies (nothing tells); the larger values
    // give unknown keys. Data at offset 0 or 1 reads the header instead: a
    // zlib block breaks, a stored one is taken as it is. A stored size that
    // differs from the size makes the entry compressed, so every changed
    // size or stored size within the file is damage; beyond it, refused.
    struct Case {
        uint32_t file;
        uint32_t field;
        const char* name;
        const char* codes;
    } cases[] = {
        {1, FILE_NAME, "name", "WRRR"},        {1, FILE_INDEX, "key", "DDRR"},
        {1, FILE_DATA_OFFSET, "data", "DDRR"}, {1, FILE_STORED, "stored", "DDRR"},
        {1, FILE_SIZE, "size", "DDDD"},        {1, FILE_PREV, "prev", "WWRR"},
        {1, FILE_NEXT, "next", "WRRR"},        {2, FILE_NAME, "name", "WRRR"},
        {2, FILE_INDEX, "key", "WWRR"},        {2, FILE_DATA_OFFSET, "data", "WWRR"},
        {2, FILE_STORED, "stored", "DDRR"},    {2, FILE_SIZE, "size", "DDDD"},
        {2, FILE_PREV, "prev", "WWRR"},        {2, FILE_NEXT, "next", "WRRR"},
        {3, FILE_NAME, "name", "WRRR"},        {3, FILE_INDEX, "key", "DDRR"},
        {3, FILE_DATA_OFFSET, "data", "DDRR"}, {3, FILE_STORED, "stored", "DDRR"},
        {3, FILE_SIZE, "size", "DDDD"},        {3, FILE_PREV, "prev", "WWRR"},
        {3, FILE_NEXT, "next", "WRRR"},
    };
    for (const Case& c : cases) {
        for (int v = 0; v < 4; ++v) {
            std::string bytes = whole;
            test_table_set_u32(bytes, file_field(DIRS, c.file, c.field), values[v]);
            char name[64];
            std::snprintf(name, sizeof name, "file%u-%s-%08X.dat", c.file, c.name, values[v]);
            Outcome outcome = outcome_of(c.codes[v]);
            expect(name, bytes, outcome, SMALL_FILES[c.file - 1],
                   outcome == Outcome::Damaged ? 3 : 0);
        }
    }
}

TEST_F(DamagedArchiveTest, IndexAndAttributeBytesAreNotReadAsStructure) {
    const std::string whole = build_test_archive(small_archive());
    // The 16-bit index is not used by the reader; attribute bits belong to
    // the file and never turn it into a directory: verify still reads all
    // three files.
    for (uint32_t file = 1; file <= 3; ++file) {
        for (uint32_t index : {0u, 0xFFFFu}) {
            std::string bytes = whole;
            test_table_set_u8(bytes, file_field(DIRS, file, FILE_INDEX), uint8_t(index));
            test_table_set_u8(bytes, file_field(DIRS, file, FILE_INDEX) + 1, uint8_t(index >> 8));
            char name[64];
            std::snprintf(name, sizeof name, "file%u-index-%04X.dat", file, index);
            expect(name, bytes, Outcome::Whole, "", 3);
        }
        for (uint32_t attributes : {0x01u, 0x7Fu, 0x80u, 0xFFu}) {
            std::string bytes = whole;
            test_table_set_u8(bytes, file_field(DIRS, file, FILE_ATTRIBUTES), uint8_t(attributes));
            char name[64];
            std::snprintf(name, sizeof name, "file%u-attributes-%02X.dat", file, attributes);
            expect(name, bytes, Outcome::Whole, "", 3);
            ToolRun list = run_tool({"list", join(folder_, name)});
            EXPECT_TRUE(contains(list.out, "3 files, 2 directories")) << list.out;
        }
        std::string bytes = whole;
        test_table_set_u8(bytes, file_field(DIRS, file, FILE_KEY), 5);
        expect("file" + std::to_string(file) + "-key-5.dat", bytes, Outcome::Refused);
    }
}

TEST_F(DamagedArchiveTest, LoopsSharedNodesAndOutOfRangeData) {
    const std::string whole = build_test_archive(small_archive());
    const uint32_t size = uint32_t(whole.size());
    const uint32_t table_size = test_get_u32(whole, 16) - 32;
    auto damaged = [&](uint32_t position, uint32_t value) {
        std::string bytes = whole;
        test_table_set_u32(bytes, position, value);
        return bytes;
    };
    expect("sibling-loop.dat", damaged(dir_field(3, DIR_NEXT), 2), Outcome::Refused);
    expect("own-child.dat", damaged(dir_field(2, DIR_FIRST_CHILD), 2), Outcome::Refused);
    expect("child-links-to-sibling.dat", damaged(dir_field(3, DIR_FIRST_CHILD), 2),
           Outcome::Refused);
    expect("file-loop.dat", damaged(file_field(DIRS, 2, FILE_NEXT), 1), Outcome::Refused);
    expect("file-self-loop.dat", damaged(file_field(DIRS, 3, FILE_NEXT), 3), Outcome::Refused);
    expect("file-in-two-folders.dat", damaged(dir_field(3, DIR_FIRST_FILE), 3), Outcome::Refused);
    expect("data-past-end.dat", damaged(file_field(DIRS, 2, FILE_DATA_OFFSET), size - 16),
           Outcome::Refused);
    expect("data-wraps-around.dat", damaged(file_field(DIRS, 2, FILE_DATA_OFFSET), 0xFFFFFFF0u),
           Outcome::Refused);
    expect("stored-past-end.dat", damaged(file_field(DIRS, 3, FILE_STORED), size),
           Outcome::Refused);
    expect("name-outside-table.dat", damaged(file_field(DIRS, 1, FILE_NAME), table_size),
           Outcome::Refused);
    expect("name-in-padding.dat", damaged(file_field(DIRS, 1, FILE_NAME), table_size - 1),
           Outcome::Refused);

    // A name that runs into the end of the table without its zero byte.
    std::string unterminated = whole;
    for (uint32_t p = 184; p < table_size; ++p) {
        test_table_set_u8(unterminated, p, 'x');
    }
    test_table_set_u32(unterminated, file_field(DIRS, 1, FILE_NAME), 186);
    expect("name-unterminated.dat", unterminated, Outcome::Refused);

    // "a.txt" starts at 157; a "/" inside a name would split it.
    std::string slash = whole;
    test_table_set_u8(slash, 157 + 1, '/');
    expect("name-with-slash.dat", slash, Outcome::Refused);

    // Table ends that cannot hold the records, or cut the names off.
    std::string short_table = whole;
    test_set_u32(short_table, 16, 32 + 3 * 24 + 3 * 28 - 1);
    expect("table-end-before-records.dat", short_table, Outcome::Refused);
    std::string cut_names = whole;
    test_set_u32(cut_names, 16, 200);
    expect("table-end-cuts-names.dat", cut_names, Outcome::Refused);

    // Two folders or two files of one name side by side: odd, but every
    // record is reachable once and each is listed for what it is.
    const uint32_t sub_name = test_table_get_u32(whole, dir_field(2, DIR_NAME));
    expect("twin-folders.dat", damaged(dir_field(3, DIR_NAME), sub_name), Outcome::Whole, "", 3);
    const uint32_t a_name = test_table_get_u32(whole, file_field(DIRS, 1, FILE_NAME));
    expect("twin-files.dat", damaged(file_field(DIRS, 2, FILE_NAME), a_name), Outcome::Whole, "",
           3);
    ToolRun twins = run_tool({"list", join(folder_, "twin-folders.dat")});
    EXPECT_TRUE(contains(twins.out, "3 files, 2 directories")) << twins.out;

    // Not an archive at all, and an empty file.
    expect("text.dat", "hello, world\r\n", Outcome::Refused);
    expect("empty.dat", "", Outcome::Refused);
    // A damaged archive with a Japanese name is named as it was given.
    expect("\x83\x5C\x81\x5B\x83\x58.dat", damaged(dir_field(1, DIR_FIRST_CHILD), 1),
           Outcome::Refused);
}

TEST_F(DamagedArchiveTest, ArchivesThatLookOddButAreWhole) {
    // Only the root: 64 bytes, nothing to read.
    std::string root_only = build_test_archive(TestArchive{});
    EXPECT_EQ(root_only.size(), 64u);
    expect("root-only.dat", root_only, Outcome::Whole, "", 0);

    // An empty entry reads nothing wherever its data offset points, and
    // bytes after a zlib stream inside its block carry no meaning.
    TestArchive odd;
    odd.files = {{"/zero", ""},
                 {"/tail.txt", make_bytes(500, 4), 2, true, 0, std::string(40, '\x5A')},
                 {"/last.bin", make_bytes(64, 5, false), 3, false}};
    std::string bytes = build_test_archive(odd);
    test_table_set_u32(bytes, file_field(1, 1, FILE_DATA_OFFSET), 0xFFFFFFF0u);
    expect("odd-but-whole.dat", bytes, Outcome::Whole, "", 3);
}

TEST_F(DamagedArchiveTest, VerifyNamesEachDamagedEntryAndReadsTheRest) {
    TestArchive archive;
    archive.files = {
        {"/intact.txt", make_bytes(5000, 11), 1, true},
        {"/corrupt.txt", make_bytes(5000, 12), 2, true},
        {"/adler.txt", make_bytes(3000, 13), 3, true},
        {"/short.txt", make_bytes(4000, 14), 4, true},
        {"/stored.bin", make_bytes(2000, 15, false), 0, false},
        {"/sub/deep.txt", make_bytes(2500, 16), 1, true},
    };
    const std::string whole = build_test_archive(archive);
    const uint32_t dirs = 2;
    auto offset = [&](uint32_t file) {
        return test_table_get_u32(whole, file_field(dirs, file, FILE_DATA_OFFSET));
    };
    auto stored = [&](uint32_t file) {
        return test_table_get_u32(whole, file_field(dirs, file, FILE_STORED));
    };

    // A byte in the middle of the deflate data; the last byte of the
    // Adler-32 trailer (the stored block is exactly the zlib stream); a
    // block cut 20 bytes short.
    std::string corrupt = whole;
    corrupt[offset(2) + stored(2) / 2] ^= 0x55;
    std::string adler = whole;
    adler[offset(3) + stored(3) - 1] ^= 0x01;
    std::string cut = whole;
    test_table_set_u32(cut, file_field(dirs, 4, FILE_STORED), stored(4) - 20);

    expect("intact.dat", whole, Outcome::Whole, "", 6);
    expect("corrupt-zlib.dat", corrupt, Outcome::Damaged, "/corrupt.txt", 6);
    expect("bad-adler.dat", adler, Outcome::Damaged, "/adler.txt", 6);
    expect("cut-short-entry.dat", cut, Outcome::Damaged, "/short.txt", 6);

    std::string path = join(folder_, "bad-adler.dat");
    ToolRun adler_run = run_tool({"verify", path});
    EXPECT_TRUE(contains(adler_run.out, "DAMAGED /adler.txt: ") &&
                contains(adler_run.out, "Adler-32"))
        << adler_run.out;
    EXPECT_TRUE(
        contains(run_tool({"verify", join(folder_, "cut-short-entry.dat")}).out, "wrong length"));

    // All three at once: each named, the others read, one summary.
    std::string all = whole;
    all[offset(2) + stored(2) / 2] ^= 0x55;
    all[offset(3) + stored(3) - 1] ^= 0x01;
    test_table_set_u32(all, file_field(dirs, 4, FILE_STORED), stored(4) - 20);
    path = join(folder_, "three-damaged.dat");
    write_file(path, all);
    ToolRun verify = run_tool({"verify", path});
    EXPECT_EQ(verify.status, 1);
    for (const char* entry : {"/corrupt.txt", "/adler.txt", "/short.txt"}) {
        EXPECT_TRUE(contains(verify.out, std::string("DAMAGED ") + entry + ": ")) << verify.out;
    }
    for (const char* entry : {"/intact.txt", "/stored.bin", "/sub/deep.txt"}) {
        EXPECT_FALSE(contains(verify.out, entry)) << verify.out;
    }
    EXPECT_TRUE(contains(verify.out, path + ": 6 files checked, 3 damaged")) << verify.out;
    EXPECT_TRUE(contains(verify.err, "epk2: " + path + ": 3 entries are damaged")) << verify.err;
    ToolRun list = run_tool({"list", path});
    EXPECT_EQ(list.status, 0);
    EXPECT_TRUE(contains(list.out, "6 files, 1 directories")) << list.out;
}

} // namespace
