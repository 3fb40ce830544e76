// "list" and "verify" over a folder of deliberately broken archives: cut at
// every length, header and table fields at extreme values, looping links,
// data beyond the end, broken zlib streams, layouts that read but are not what
// the builder writes. Each must end with status 1 and a message naming the
// file (and for verify the record and what is wrong), or with 0 where the
// bytes still read back (verify then notes where the layout is not pack's
// own, and --strict fails it); none may crash or hang.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "archive/epk2_format.h"
#include "support/test_support.h"
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
// Invalid: everything reads (list 0) but verify finds what readers rely on
// broken (1). Noted: everything reads and verify passes (0) with NOTEs of
// where the layout is not pack's own; --strict fails it (1). Both: damaged,
// with layout findings. Refused: the archive is not readable (1 both).
enum class Outcome { Whole, Damaged, Invalid, Noted, Both, Refused };

Outcome outcome_of(char code) {
    switch (code) {
    case 'W':
        return Outcome::Whole;
    case 'D':
        return Outcome::Damaged;
    case 'I':
        return Outcome::Invalid;
    case 'N':
        return Outcome::Noted;
    case 'B':
        return Outcome::Both;
    }
    return Outcome::Refused;
}

// True when verify's output has the finding "WHERE: REASON": a line that
// starts with "VERDICT WHERE" and goes on with ": REASON" (WHERE may be the
// start of a path whose last name has no readable form).
bool has_finding(const std::string& out, const std::string& finding,
                 const std::string& verdict = "INVALID") {
    size_t split = finding.find(": ");
    std::string lead = verdict + " " + finding.substr(0, split);
    std::string reason = split == std::string::npos ? "" : finding.substr(split);
    for (const std::string& line : lines_of(out)) {
        if (line.rfind(lead, 0) == 0 && contains(line.substr(lead.size()), reason)) {
            return true;
        }
    }
    return false;
}

// The summary counts the INVALID and the NOTE lines (and leaves either out
// when there are none).
bool counts_findings(const std::string& out) {
    size_t invalid = 0;
    size_t notes = 0;
    for (const std::string& line : lines_of(out)) {
        invalid += line.rfind("INVALID ", 0) == 0;
        notes += line.rfind("NOTE ", 0) == 0;
    }
    std::string expected = " damaged";
    if (invalid) {
        expected += ", " + std::to_string(invalid) + " invalid";
    }
    if (notes) {
        expected += ", " + std::to_string(notes) + (notes == 1 ? " note" : " notes");
    }
    return contains(out, expected + "\n");
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
    // detail: the entry verify must name as damaged, or for Invalid the
    // finding ("/sub/c.txt: name lies ..."; empty: any); files: how many
    // verify must read (0: not checked).
    void expect(const std::string& name, const std::string& bytes, Outcome expected,
                const std::string& detail = "", int files = 0) {
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
        case Outcome::Both:
            EXPECT_EQ(list.status, 0) << list.err;
            EXPECT_TRUE(contains(list.out, detail)) << list.out;
            EXPECT_EQ(verify.status, 1) << verify.out << verify.err;
            EXPECT_TRUE(contains(verify.out, "DAMAGED " + detail + ": ")) << verify.out;
            EXPECT_TRUE(contains(verify.out, " 1 damaged")) << verify.out;
            EXPECT_TRUE(contains(verify.err, "epk2: " + shown + ": 1 entry is damaged"))
                << verify.err;
            EXPECT_EQ(contains(verify.out, "INVALID ") || contains(verify.out, "NOTE "),
                      expected == Outcome::Both)
                << verify.out;
            EXPECT_TRUE(counts_findings(verify.out)) << verify.out;
            if (files) {
                EXPECT_TRUE(contains(verify.out, checked)) << verify.out;
            }
            break;
        case Outcome::Invalid:
            EXPECT_EQ(list.status, 0) << list.err;
            EXPECT_EQ(list.err, "");
            EXPECT_EQ(verify.status, 1) << verify.out << verify.err;
            EXPECT_FALSE(contains(verify.out, "DAMAGED")) << verify.out;
            EXPECT_TRUE(has_finding(verify.out, detail)) << detail << "\n" << verify.out;
            EXPECT_TRUE(contains(verify.out, " 0 damaged, ")) << verify.out;
            EXPECT_TRUE(counts_findings(verify.out)) << verify.out;
            EXPECT_TRUE(contains(verify.err, "epk2: " + shown + ": ") &&
                        contains(verify.err, " of what readers rely on"))
                << verify.err;
            if (files) {
                EXPECT_TRUE(contains(verify.out, checked)) << verify.out;
            }
            break;
        case Outcome::Noted: {
            EXPECT_EQ(list.status, 0) << list.err;
            EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
            EXPECT_EQ(verify.err, "");
            EXPECT_FALSE(contains(verify.out, "DAMAGED") || contains(verify.out, "INVALID"))
                << verify.out;
            EXPECT_TRUE(has_finding(verify.out, detail, "NOTE")) << detail << "\n" << verify.out;
            EXPECT_TRUE(counts_findings(verify.out)) << verify.out;
            ToolRun strict = run_tool({"verify", "--strict", shown});
            EXPECT_EQ(strict.status, 1) << strict.out;
            EXPECT_TRUE(contains(strict.err, " from the layout epk2 pack writes (--strict)"))
                << strict.err;
            if (files) {
                EXPECT_TRUE(contains(verify.out, checked)) << verify.out;
            }
            break;
        }
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
    // that the table points at: those still read, but lack the padding.
    ASSERT_LT(needed, whole.size());
    ASSERT_EQ(whole.size() % 32, 0u);
    for (size_t length = 0; length <= whole.size(); ++length) {
        char name[32];
        std::snprintf(name, sizeof name, "cut-%04zu.dat", length);
        Outcome outcome = length < needed         ? Outcome::Refused
                          : length < whole.size() ? Outcome::Noted
                                                  : Outcome::Whole;
        expect(name, whole.substr(0, length), outcome,
               "data area: the archive ends inside the padding of the last data block",
               length < needed ? 0 : 2);
    }
}

TEST_F(DamagedArchiveTest, HeaderFieldsAtExtremeValues) {
    const std::string whole = build_test_archive(small_archive());
    const uint32_t values[] = {0, 1, 0x7FFFFFFF, 0xFFFFFFFF};
    // One code per value: W whole, N noted, R refused. The reserved words
    // are not read (the builder leaves them zero: a note); every other field at
    // these values breaks the archive (a table
    // end of 0 or 1 cannot hold the records, one directory leaves the root
    // linking to directory 2 beyond the count, no or one file leaves links
    // to files 1 and 3 beyond it).
    struct Field {
        uint32_t offset;
        const char* name;
        const char* codes;
    } fields[] = {
        {0, "magic", "RRRR"},       {4, "version", "RRRR"},     {8, "reserved8", "WNNN"},
        {12, "reserved12", "WNNN"}, {16, "table_end", "RRRR"},  {20, "dir_count", "RRRR"},
        {24, "file_count", "RRRR"}, {28, "reserved28", "WNNN"},
    };
    for (const Field& field : fields) {
        for (int v = 0; v < 4; ++v) {
            std::string bytes = whole;
            test_set_u32(bytes, field.offset, values[v]);
            char name[64];
            std::snprintf(name, sizeof name, "header-%s-%08X.dat", field.name, values[v]);
            expect(name, bytes, outcome_of(field.codes[v]),
                   field.offset == 28 ? "header: reserved word at offset 28 is not zero" : "", 3);
        }
    }
    // The reserved half-word beside the version is not read either.
    std::string reserved = whole;
    reserved[6] = reserved[7] = char(0xFF);
    expect("header-reserved6.dat", reserved, Outcome::Noted,
           "header: reserved half-word at offset 6 is not zero", 3);

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
    // root into the tree a second time. 0 unlinks what followed, which still
    // reads but leaves records that the root does not reach; a parent or
    // previous link that does not mirror the chain reads too. Name offset 0
    // gives the name "\x9C" from inside the records, offset 1 an empty name
    // (it opens; no path finds it); the root's name is never read.
    struct Case {
        uint32_t dir;
        uint32_t field;
        const char* name;
        const char* codes;
    } cases[] = {
        {1, DIR_NAME, "name", "NNNN"},         {1, DIR_PARENT, "parent", "WNRR"},
        {1, DIR_FIRST_CHILD, "child", "NRRR"}, {1, DIR_FIRST_FILE, "file", "NWRR"},
        {1, DIR_PREV, "prev", "WNRR"},         {1, DIR_NEXT, "next", "WNRR"},
        {2, DIR_NAME, "name", "NNRR"},         {2, DIR_PARENT, "parent", "NWRR"},
        {2, DIR_FIRST_CHILD, "child", "WRRR"}, {2, DIR_FIRST_FILE, "file", "NRRR"},
        {2, DIR_PREV, "prev", "WNRR"},         {2, DIR_NEXT, "next", "NRRR"},
        {3, DIR_NAME, "name", "NNRR"},         {3, DIR_PARENT, "parent", "NWRR"},
        {3, DIR_FIRST_CHILD, "child", "WRRR"}, {3, DIR_FIRST_FILE, "file", "WRRR"},
        {3, DIR_PREV, "prev", "NNRR"},         {3, DIR_NEXT, "next", "WRRR"},
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
    // Codes per value; D: verify names the file and reads the other two; B:
    // it also finds the layout broken. The word at offset 4 holds index,
    // attributes and key: 0 and 1 make the key 0, so a scrambled zlib block
    // no longer inflates while a scrambled stored block is read as it lies
    // (only the key rotation tells); the larger values give unknown keys.
    // Data at offset 0 or 1 reads the header instead: a zlib block breaks, a
    // stored one is taken as it is. A stored size that differs from the size
    // makes the entry compressed, so every changed size or stored size within
    // the file is damage (and a changed stored size moves where the blocks
    // should lie); beyond it, refused. Links as for directories.
    struct Case {
        uint32_t file;
        uint32_t field;
        const char* name;
        const char* codes;
    } cases[] = {
        {1, FILE_NAME, "name", "NNRR"},        {1, FILE_INDEX, "key", "BBRR"},
        {1, FILE_DATA_OFFSET, "data", "BBRR"}, {1, FILE_STORED, "stored", "BBRR"},
        {1, FILE_SIZE, "size", "DDDD"},        {1, FILE_PREV, "prev", "WNRR"},
        {1, FILE_NEXT, "next", "NRRR"},        {2, FILE_NAME, "name", "NNRR"},
        {2, FILE_INDEX, "key", "NNRR"},        {2, FILE_DATA_OFFSET, "data", "NNRR"},
        {2, FILE_STORED, "stored", "BBRR"},    {2, FILE_SIZE, "size", "DDDD"},
        {2, FILE_PREV, "prev", "NWRR"},        {2, FILE_NEXT, "next", "WRRR"},
        {3, FILE_NAME, "name", "NNRR"},        {3, FILE_INDEX, "key", "BBRR"},
        {3, FILE_DATA_OFFSET, "data", "BBRR"}, {3, FILE_STORED, "stored", "BBRR"},
        {3, FILE_SIZE, "size", "DDDD"},        {3, FILE_PREV, "prev", "WNRR"},
        {3, FILE_NEXT, "next", "WRRR"},
    };
    for (const Case& c : cases) {
        for (int v = 0; v < 4; ++v) {
            std::string bytes = whole;
            test_table_set_u32(bytes, file_field(DIRS, c.file, c.field), values[v]);
            char name[64];
            std::snprintf(name, sizeof name, "file%u-%s-%08X.dat", c.file, c.name, values[v]);
            Outcome outcome = outcome_of(c.codes[v]);
            bool damaged = outcome == Outcome::Damaged || outcome == Outcome::Both;
            expect(name, bytes, outcome, damaged ? SMALL_FILES[c.file - 1] : "", damaged ? 3 : 0);
        }
    }
}

TEST_F(DamagedArchiveTest, IndexAndAttributeBytesAreNotReadAsStructure) {
    const std::string whole = build_test_archive(small_archive());
    // The 16-bit index is not used by the reader; attribute bits belong to
    // the file and never turn it into a directory: verify still reads all
    // three files, and names the field the builder would have written
    // otherwise (the record number, attributes 0).
    for (uint32_t file = 1; file <= 3; ++file) {
        for (uint32_t index : {0u, 0xFFFFu}) {
            std::string bytes = whole;
            test_table_set_u8(bytes, file_field(DIRS, file, FILE_INDEX), uint8_t(index));
            test_table_set_u8(bytes, file_field(DIRS, file, FILE_INDEX) + 1, uint8_t(index >> 8));
            char name[64];
            std::snprintf(name, sizeof name, "file%u-index-%04X.dat", file, index);
            expect(name, bytes, Outcome::Noted,
                   std::string(SMALL_FILES[file - 1]) + ": index field is " +
                       std::to_string(index) + ", not the record number " + std::to_string(file),
                   3);
        }
        for (uint32_t attributes : {0x01u, 0x7Fu, 0x80u, 0xFFu}) {
            std::string bytes = whole;
            test_table_set_u8(bytes, file_field(DIRS, file, FILE_ATTRIBUTES), uint8_t(attributes));
            char name[64];
            std::snprintf(name, sizeof name, "file%u-attributes-%02X.dat", file, attributes);
            char finding[64];
            std::snprintf(finding, sizeof finding, "%s: attribute byte is 0x%02X, not 0",
                          SMALL_FILES[file - 1], attributes);
            expect(name, bytes, Outcome::Noted, finding, 3);
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
    // The padding's zero byte reads as an empty name: the record opens,
    // though no path finds it.
    expect("name-in-padding.dat", damaged(file_field(DIRS, 1, FILE_NAME), table_size - 1),
           Outcome::Noted, "file record 1: name lies outside the name area, past the names", 3);

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

    // Two folders or two files of one name side by side: every record is
    // reachable once and each is listed for what it is, but the builder
    // never writes them.
    const uint32_t sub_name = test_table_get_u32(whole, dir_field(2, DIR_NAME));
    expect("twin-folders.dat", damaged(dir_field(3, DIR_NAME), sub_name), Outcome::Noted,
           "/sub: a second subfolder of this name in its folder (directory record 3; the first "
           "is record 2)",
           3);
    const uint32_t a_name = test_table_get_u32(whole, file_field(DIRS, 1, FILE_NAME));
    expect("twin-files.dat", damaged(file_field(DIRS, 2, FILE_NAME), a_name), Outcome::Noted,
           "/a.txt: a second file of this name in its folder (file record 2; the first is "
           "record 1)",
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

TEST_F(DamagedArchiveTest, ArchivesThatReadButAreNotLaidOutAsTheBuilderWrites) {
    const std::string whole = build_test_archive(small_archive());
    // Names from table position 156: "" 156, "a.txt" 157, "b.bin" 163,
    // "c.txt" 169, "sub" 175, "void" 179; zero padding 184-191.
    const uint32_t table_end = test_get_u32(whole, 16);
    ASSERT_EQ(table_end, 224u);
    auto with = [&](std::initializer_list<std::pair<uint32_t, uint32_t>> changes) {
        std::string bytes = whole;
        for (const auto& [position, value] : changes) {
            test_table_set_u32(bytes, position, value);
        }
        return bytes;
    };
    auto file = [](uint32_t index, uint32_t field) { return file_field(DIRS, index, field); };
    auto text_at = [](std::string bytes, uint32_t position, const std::string& text) {
        for (size_t i = 0; i < text.size(); ++i) {
            test_table_set_u8(bytes, uint32_t(position + i), uint8_t(text[i]));
        }
        return bytes;
    };
    auto offset = [&](const std::string& bytes, uint32_t index) {
        return test_table_get_u32(bytes, file(index, FILE_DATA_OFFSET));
    };
    // 32 zero bytes at an absolute offset, the data blocks from there on
    // moved behind them.
    auto insert_at = [&](uint32_t at) {
        std::string bytes = whole;
        bytes.insert(at, 32, '\0');
        for (uint32_t index = 1; index <= 3; ++index) {
            if (offset(whole, index) >= at) {
                test_table_set_u32(bytes, file(index, FILE_DATA_OFFSET), offset(whole, index) + 32);
            }
        }
        return bytes;
    };
    std::string wide_table = insert_at(table_end);
    test_set_u32(wide_table, 16, table_end + 32);
    for (uint32_t p = table_end - 32; p < table_end; ++p) {
        test_table_set_u8(wide_table, p, 0); // the new padding, scrambled
    }
    std::string short_table = whole;
    test_set_u32(short_table, 16, table_end - 4);
    std::string block_padding = whole;
    block_padding[offset(whole, 2) + 40] = 1;
    TestArchive rekeyed = small_archive();
    rekeyed.files[1].key = 3;
    const std::string gap = std::to_string(offset(whole, 3));

    const struct {
        const char* name;
        std::string bytes;
        std::string finding;
        int files = 3; // that verify reads
    } cases[] = {
        {"name-in-records.dat", with({{file(3, FILE_NAME), 0}}),
         "/sub/: name lies outside the name area, in the record table"},
        {"name-past-names.dat", text_at(with({{file(2, FILE_NAME), 185}}), 185, "zz"),
         "/zz: name lies outside the name area, past the names"},
        {"name-inside-name.dat", with({{file(2, FILE_NAME), 159}}),
         "/txt: name starts inside another name of the name area"},
        {"root-named.dat", with({{dir_field(1, DIR_NAME), 157}}),
         "/: the root's name is \"a.txt\", not empty"},
        {"name-of-no-record.dat", with({{file(3, FILE_NAME), 157}}),
         "name area: \"c.txt\" is the name of no record"},
        {"names-unsorted.dat", text_at(whole, 169, "0"),
         "name area: \"0.txt\" comes after \"b.bin\", out of byte order"},
        {"name-stored-twice.dat", text_at(whole, 169, "b.bin"),
         "name area: \"b.bin\" is stored twice"},
        {"names-padding.dat", text_at(whole, 190, "x"),
         "name area: padding after the names is not zero"},
        {"parent-elsewhere.dat", with({{dir_field(3, DIR_PARENT), 2}}),
         "/void: parent link names directory record 2, not 1, the folder that holds it"},
        {"first-child-with-prev.dat", with({{dir_field(2, DIR_PREV), 3}}),
         "/sub: first subfolder of its folder, yet its previous-sibling link names directory "
         "record 3"},
        {"sibling-prev-unmirrored.dat", with({{dir_field(3, DIR_PREV), 0}}),
         "/void: previous-sibling link names directory record 0, not 2, the subfolder before it"},
        {"first-file-with-prev.dat", with({{file(3, FILE_PREV), 2}}),
         "/sub/c.txt: first file of its folder, yet its previous-file link names file record 2"},
        {"file-prev-unmirrored.dat", with({{file(2, FILE_PREV), 0}}),
         "/b.bin: previous-file link names file record 0, not 1, the file before it"},
        {"folder-orphaned.dat", with({{dir_field(2, DIR_NEXT), 0}}),
         "directory record 3: not reachable from the root"},
        {"file-orphaned.dat", with({{file(1, FILE_NEXT), 0}}),
         "file record 2: not reachable from the root", 2},
        {"siblings-reversed.dat",
         with({{dir_field(1, DIR_FIRST_CHILD), 3},
               {dir_field(3, DIR_PREV), 0},
               {dir_field(3, DIR_NEXT), 2},
               {dir_field(2, DIR_PREV), 3},
               {dir_field(2, DIR_NEXT), 0}}),
         "/sub: numbered before the subfolder before it (directory record 3)"},
        {"folder-below-later-one.dat",
         with({{dir_field(1, DIR_FIRST_CHILD), 3},
               {dir_field(3, DIR_PREV), 0},
               {dir_field(3, DIR_FIRST_CHILD), 2},
               {dir_field(2, DIR_PARENT), 3},
               {dir_field(2, DIR_NEXT), 0}}),
         "/void/sub: numbered before its parent folder (directory record 3)"},
        {"key-off-rotation.dat", build_test_archive(rekeyed),
         "/b.bin: key 3, not key 2 of the rotation over the files"},
        {"table-end-unaligned.dat", short_table, "header: table end 220 is not a multiple of 32"},
        {"table-end-too-far.dat", wide_table,
         "header: table end 256, but the records, names and padding end at 224"},
        {"block-padding.dat", block_padding, "/b.bin: padding after the data block is not zero"},
        {"gap-before-block.dat", insert_at(offset(whole, 3)),
         "/sub/c.txt: data block starts at " + std::to_string(offset(whole, 3) + 32) + ", not at " +
             gap + " right after the previous data block"},
        {"bytes-after-blocks.dat", whole + std::string(32, '\0'),
         "data area: 32 bytes follow the last data block"},
    };
    for (const auto& c : cases) {
        expect(c.name, c.bytes, Outcome::Noted, c.finding, c.files);
    }
}

TEST_F(DamagedArchiveTest, EveryArchivePackAndMergeWriteVerifiesClean) {
    const std::string root = temp_.path();
    // More files than keys, nested and empty folders, an empty file, stored
    // and deflated files, names whose byte order mixes code page 932 and
    // ASCII; the patch holds a file where the base holds a folder.
    const std::pair<std::string, std::string> files[] = {
        {"base/_config.txt", "[NoCompression]\r\n*.bin\r\n"},
        {"base/info.txt", "version=1.0\r\n"},
        {"base/a/b/c/deep.txt", make_bytes(3000, 1)},
        {"base/a/empty.txt", ""},
        {"base/a/raw.bin", make_bytes(2000, 2, false)},
        {"base/x/inside.txt", "x is a folder here"},
        {"base/\x83\x66\x81\x5B\x83\x5E/\x95\x5C.txt", make_bytes(700, 3)},
        {"base/Z.txt", "upper"},
        {"base/z.txt", "lower"},
        {"base/big.txt", make_bytes(1500000, 4)},
        {"patch/_config.txt", "[NoCompression]\r\n*.bin\r\n"},
        {"patch/info.txt", "version=1.1\r\n"},
        {"patch/x", "x is a file here"},
        {"patch/a/b/new.txt", make_bytes(1500, 5)},
        {"patch/a/raw.bin", "replaced"},
    };
    for (const auto& [path, bytes] : files) {
        write_tree_file(root, path, bytes);
    }
    make_folder(join(root, "base/void"));
    auto at = [&](const char* name) { return join(root, name); };
    const std::vector<std::string> commands[] = {
        {"pack", at("base"), "-o", at("base.dat")},
        {"pack", at("patch"), "-o", at("patch.dat")},
        {"merge", at("patch.dat"), at("base.dat"), "-o", at("merged.dat")},
        {"merge", at("patch.dat"), at("merged.dat"), "-o", at("again.dat")},
        {"merge", at("base.dat"), at("patch.dat"), "-o", at("reverse.dat"), "--recompress"},
    };
    for (const std::vector<std::string>& command : commands) {
        SCOPED_TRACE(command[0] + " " + command[1]);
        ToolRun made = run_tool(command);
        ASSERT_EQ(made.status, 0) << made.err;
        ToolRun verify = run_tool({"verify", command[command[0] == "pack" ? 3 : 4]});
        EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
        EXPECT_FALSE(contains(verify.out, "INVALID")) << verify.out;
        EXPECT_EQ(verify.err, "");
    }
    ToolRun list = run_tool({"list", at("merged.dat")});
    EXPECT_TRUE(contains(list.out, "/x/inside.txt") && contains(list.out, "  /x\n")) << list.out;
}

TEST_F(DamagedArchiveTest, ArchivesThatLookOddButAreWhole) {
    // Only the root: 64 bytes, nothing to read.
    std::string root_only = build_test_archive(TestArchive{});
    EXPECT_EQ(root_only.size(), 64u);
    expect("root-only.dat", root_only, Outcome::Whole, "", 0);

    // Bytes after a zlib stream inside its block carry no meaning (a merge
    // copies such a block as it lies). An empty entry reads nothing wherever
    // its data offset points, though the builder puts it where the next
    // block starts.
    TestArchive odd;
    odd.files = {{"/zero", "", 1},
                 {"/tail.txt", make_bytes(500, 4), 2, true, 0, std::string(40, '\x5A')},
                 {"/last.bin", make_bytes(64, 5, false), 3, false}};
    std::string bytes = build_test_archive(odd);
    expect("odd-but-whole.dat", bytes, Outcome::Whole, "", 3);
    const uint32_t table_end = test_get_u32(bytes, 16);
    test_table_set_u32(bytes, file_field(1, 1, FILE_DATA_OFFSET), 0xFFFFFFF0u);
    expect("odd-empty-entry.dat", bytes, Outcome::Noted,
           "/zero: data block starts at 4294967280, not at " + std::to_string(table_end) +
               " right after the table",
           3);
}

TEST_F(DamagedArchiveTest, VerifyNamesEachDamagedEntryAndReadsTheRest) {
    TestArchive archive;
    archive.files = {
        {"/intact.txt", make_bytes(5000, 11), 1, true},
        {"/corrupt.txt", make_bytes(5000, 12), 2, true},
        {"/adler.txt", make_bytes(3000, 13), 3, true},
        {"/short.txt", make_bytes(4000, 14), 4, true},
        {"/stored.bin", make_bytes(2000, 15, false), 1, false},
        {"/sub/deep.txt", make_bytes(2500, 16), 2, true},
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
    // The cut-off bytes are left behind as padding that is not zero.
    expect("cut-short-entry.dat", cut, Outcome::Both, "/short.txt", 6);

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
    // Entries are read on several threads, but reported in archive order.
    size_t previous = 0;
    for (const char* entry : {"/corrupt.txt", "/adler.txt", "/short.txt"}) {
        const size_t at = verify.out.find(std::string("DAMAGED ") + entry + ": ");
        EXPECT_TRUE(at != std::string::npos && at >= previous) << entry << "\n" << verify.out;
        previous = at == std::string::npos ? previous : at;
    }
    for (const char* entry : {"/intact.txt", "/stored.bin", "/sub/deep.txt"}) {
        EXPECT_FALSE(contains(verify.out, entry)) << verify.out;
    }
    EXPECT_TRUE(contains(verify.out, path + ": 6 files checked, 3 damaged")) << verify.out;
    EXPECT_TRUE(contains(verify.err, "epk2: " + path + ": 3 entries are damaged")) << verify.err;
    ToolRun list = run_tool({"list", path});
    EXPECT_EQ(list.status, 0);
    EXPECT_TRUE(contains(list.out, "6 files, 1 directory")) << list.out;
}

} // namespace
