// Hostile header and table fields, cut-short copies and layouts that are not
// the builder's, judged as "epk2 verify" judges them: the reader refuses the
// archive with a message, or it opens, every entry reads back whole or is
// named damaged, and the layout check says where the archive differs from
// what the builder writes. An archive in memory and the same bytes in a
// file are judged alike, and neither leaves a block behind. The command
// line's own tests keep one archive per kind of finding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "archive/archive_check.h"
#include "archive/archive_fs.h"
#include "archive/archive_test_support.h"
#include "archive/epk2_format.h"
#include "support/test_archive_writer.h"
#include "support/test_support.h"

namespace {

// Field offsets inside the records.
constexpr uint32_t DIR_NAME = 0, DIR_PARENT = 4, DIR_FIRST_CHILD = 8, DIR_FIRST_FILE = 12,
                   DIR_PREV = 16, DIR_NEXT = 20;
constexpr uint32_t FILE_NAME = 0, FILE_INDEX = 4, FILE_ATTRIBUTES = 6, FILE_KEY = 7,
                   FILE_DATA_OFFSET = 8, FILE_STORED = 12, FILE_SIZE = 16, FILE_PREV = 20,
                   FILE_NEXT = 24;

constexpr uint32_t DIRS = SMALL_TEST_ARCHIVE_DIRS;
const char* const SMALL_FILES[] = {"/a.txt", "/b.bin", "/sub/c.txt"};

// Whole: it opens, reads back and is laid out as the builder writes.
// Damaged: an entry does not read back; the layout is the builder's. Noted:
// everything reads, with NOTEs where the layout is not the builder's. Both:
// damaged, with layout findings. Refused: the reader refuses it. Any: only
// what holds for every archive (a refusal says why, memory and file agree,
// nothing leaks).
enum class Outcome { Whole, Damaged, Noted, Both, Refused, Any };

Outcome outcome_of(char code) {
    switch (code) {
    case 'W':
        return Outcome::Whole;
    case 'D':
        return Outcome::Damaged;
    case 'N':
        return Outcome::Noted;
    case 'B':
        return Outcome::Both;
    case '?':
        return Outcome::Any;
    }
    return Outcome::Refused;
}

uint32_t dir_field(uint32_t dir_index, uint32_t field_offset) {
    return test_dir_field(dir_index, field_offset);
}

uint32_t file_field(uint32_t dir_count, uint32_t file_index, uint32_t field_offset) {
    return test_file_field(dir_count, file_index, field_offset);
}

// True when a finding of that verdict matches "WHERE: REASON": its place
// starts with WHERE (which may be the start of a path) and its reason holds
// REASON.
bool has_finding(const ArchiveJudgement& judgement, const std::string& finding,
                 ArchiveVerdict verdict) {
    size_t split = finding.find(": ");
    std::string where = finding.substr(0, split);
    std::string reason = split == std::string::npos ? "" : finding.substr(split + 2);
    return std::any_of(judgement.findings.begin(), judgement.findings.end(),
                       [&](const ArchiveFinding& f) {
                           return f.verdict == verdict && f.where.rfind(where, 0) == 0 &&
                                  f.reason.find(reason) != std::string::npos;
                       });
}

class ArchiveVerdictTest : public ::testing::Test {
  protected:
    // detail: for Damaged and Both the one entry that must not read back;
    // for Noted the finding ("/sub/c.txt: name lies ..."; empty: any).
    // files: how many files the walk must meet where it opens (0: not
    // checked).
    ArchiveJudgement expect(const std::string& name, const std::string& bytes, Outcome expected,
                            const std::string& detail = "", uint32_t files = 0) {
        SCOPED_TRACE(name);
        ArchiveJudgement memory = judge_archive(bytes, nullptr);
        const std::string path = save_archive(dir_, bytes);
        ArchiveJudgement disk = judge_archive(bytes, &path);
        EXPECT_EQ(memory.opened, disk.opened);
        EXPECT_EQ(memory.findings, disk.findings);
        EXPECT_EQ(memory.damaged, disk.damaged);
        if (files && disk.opened) {
            EXPECT_EQ(disk.files, files);
        }
        bool notes_only =
            std::all_of(disk.findings.begin(), disk.findings.end(),
                        [](const ArchiveFinding& f) { return f.verdict == ARCHIVE_NOTE; });
        switch (expected) {
        case Outcome::Any:
            break;
        case Outcome::Refused:
            EXPECT_FALSE(disk.opened);
            EXPECT_FALSE(memory.opened);
            break;
        case Outcome::Whole:
            EXPECT_TRUE(disk.opened);
            EXPECT_TRUE(disk.findings.empty()) << disk.findings.front().reason;
            EXPECT_TRUE(disk.damaged.empty());
            break;
        case Outcome::Noted:
            EXPECT_TRUE(disk.opened);
            EXPECT_TRUE(disk.damaged.empty());
            EXPECT_FALSE(disk.findings.empty());
            EXPECT_TRUE(notes_only);
            EXPECT_TRUE(detail.empty() || has_finding(disk, detail, ARCHIVE_NOTE)) << detail;
            break;
        case Outcome::Damaged:
        case Outcome::Both:
            EXPECT_TRUE(disk.opened);
            EXPECT_EQ(disk.damaged, std::vector<std::string>{detail});
            EXPECT_EQ(disk.findings.empty(), expected == Outcome::Damaged);
            break;
        }
        return disk;
    }

    TempDir dir_;
};

} // namespace

TEST_F(ArchiveVerdictTest, EveryCutShortCopyIsRefusedUntilTheLastStoredByte) {
    // Smaller still, as every length is tried: an empty folder, a zlib
    // entry and, last, a stored one.
    TestArchive tiny;
    tiny.dirs = {"/e"};
    tiny.files = {{"/z", make_bytes(90, 6), 1, true}, {"/e/s", "stored", 2, false}};
    const std::string whole = build_test_archive(tiny);
    const uint32_t needed = test_stored_end(whole);
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

TEST_F(ArchiveVerdictTest, HeaderFieldsAtExtremeValues) {
    const std::string whole = build_test_archive(small_test_archive());
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
    EXPECT_EQ(expect("header-version-33.dat", version, Outcome::Refused).refusal,
              "Error: Not support version of EPK2.\n");
    std::string magic = whole;
    test_set_u32(magic, 0, 0);
    EXPECT_EQ(expect("header-magic-0.dat", magic, Outcome::Refused).refusal,
              "Error: Not EPK2 format.\n");
}

TEST_F(ArchiveVerdictTest, DirectoryRecordFieldsAtExtremeValues) {
    const std::string whole = build_test_archive(small_test_archive());
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

TEST_F(ArchiveVerdictTest, FileRecordFieldsAtExtremeValues) {
    const std::string whole = build_test_archive(small_test_archive());
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

TEST_F(ArchiveVerdictTest, IndexAndAttributeBytesAreNotReadAsStructure) {
    const std::string whole = build_test_archive(small_test_archive());
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
            EXPECT_EQ(expect(name, bytes, Outcome::Noted, finding, 3).dirs, 2u);
        }
        std::string bytes = whole;
        test_table_set_u8(bytes, file_field(DIRS, file, FILE_KEY), 5);
        expect("file" + std::to_string(file) + "-key-5.dat", bytes, Outcome::Refused);
    }
}

TEST_F(ArchiveVerdictTest, LoopsSharedNodesAndOutOfRangeData) {
    const std::string whole = build_test_archive(small_test_archive());
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
    ArchiveJudgement twins =
        expect("twin-folders.dat", damaged(dir_field(3, DIR_NAME), sub_name), Outcome::Noted,
               "/sub: a second subfolder of this name in its folder (directory record 3; the "
               "first is record 2)",
               3);
    EXPECT_EQ(twins.dirs, 2u);
    const uint32_t a_name = test_table_get_u32(whole, file_field(DIRS, 1, FILE_NAME));
    expect("twin-files.dat", damaged(file_field(DIRS, 2, FILE_NAME), a_name), Outcome::Noted,
           "/a.txt: a second file of this name in its folder (file record 2; the first is "
           "record 1)",
           3);

    // Not an archive at all, and an empty file.
    expect("text.dat", "hello, world\r\n", Outcome::Refused);
    expect("empty.dat", "", Outcome::Refused);
}

TEST_F(ArchiveVerdictTest, ArchivesThatReadButAreNotLaidOutAsTheBuilderWrites) {
    const std::string whole = build_test_archive(small_test_archive());
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
    TestArchive rekeyed = small_test_archive();
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

// Every field at values no writer would choose, in an archive with nested
// folders and an empty file: whatever the reader makes of it, a refusal says
// why, an archive that opens reads through to its end, memory and file
// agree, and nothing leaks.
TEST_F(ArchiveVerdictTest, EveryFieldOfAnArchiveWithAnEmptyFile) {
    TestArchive archive;
    archive.files = {
        {"/info.txt", "version=1\r\n"},
        {"/_extract/a.bin", make_bytes(300, 1), 2, true},
        {"/_extract/e", ""},
    };
    const std::string good = build_test_archive(archive);
    const uint32_t dirs = 2, files = 3;
    const uint32_t extremes[] = {0, 1, 2, 3, 0x7FFFFFFF, 0xFFFFFFFF};
    auto sweep = [&](const std::string& what, uint32_t position, bool header) {
        for (uint32_t value : extremes) {
            std::string bytes = good;
            if (header) {
                test_set_u32(bytes, position, value);
            } else {
                test_table_set_u32(bytes, position, value);
            }
            expect(what + " = " + std::to_string(value), bytes, Outcome::Any);
        }
    };
    for (uint32_t offset : {16u, 20u, 24u}) {
        sweep("header " + std::to_string(offset), offset, true);
    }
    for (uint32_t d = 1; d <= dirs; ++d) {
        for (uint32_t f = 0; f < EPK2_DIR_RECORD_SIZE; f += 4) {
            sweep("directory " + std::to_string(d) + " field " + std::to_string(f), dir_field(d, f),
                  false);
        }
    }
    for (uint32_t j = 1; j <= files; ++j) {
        for (uint32_t f :
             {FILE_NAME, FILE_DATA_OFFSET, FILE_STORED, FILE_SIZE, FILE_PREV, FILE_NEXT}) {
            sweep("file " + std::to_string(j) + " field " + std::to_string(f),
                  file_field(dirs, j, f), false);
        }
        for (uint32_t f : {FILE_ATTRIBUTES, FILE_KEY}) {
            for (uint8_t value : {0, 1, 4, 5, 0x80, 0xFF}) {
                std::string bytes = good;
                test_table_set_u8(bytes, file_field(dirs, j, f), value);
                expect("file " + std::to_string(j) + " byte " + std::to_string(f) + " = " +
                           std::to_string(value),
                       bytes, Outcome::Any);
            }
        }
    }
}
