// "list" and "verify" over deliberately broken archives: one of each kind of
// finding (the library's tests sweep every field, cut and layout), broken
// zlib streams, layouts that look odd but are whole. Each must end with
// status 1 and a message naming the file (and for verify the record and what
// is wrong), or with 0 where the bytes still read back (verify then notes
// where the layout is not pack's own, and --strict fails it); none may crash
// or hang.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "archive/epk2_format.h"
#include "support/test_support.h"
#include "tools/tool_test_support.h"

namespace {

using namespace tooltest;

// Field offsets inside the records.
constexpr uint32_t DIR_FIRST_CHILD = 8;
constexpr uint32_t FILE_INDEX = 4, FILE_ATTRIBUTES = 6, FILE_DATA_OFFSET = 8, FILE_STORED = 12,
                   FILE_SIZE = 16;

constexpr uint32_t DIRS = SMALL_TEST_ARCHIVE_DIRS;

// Whole: list and verify succeed, verify finds nothing (status 0 both).
// Damaged: the table is readable (list 0) but verify reports the entry (1).
// Invalid: everything reads (list 0) but verify finds what readers rely on
// broken (1). Noted: everything reads and verify passes (0) with NOTEs of
// where the layout is not pack's own; --strict fails it (1). Both: damaged,
// with layout findings. Refused: the archive is not readable (1 both).
enum class Outcome { Whole, Damaged, Invalid, Noted, Both, Refused };

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

// The library's tests sweep every field, cut and layout; here one archive
// of each kind shows what the command line adds: the status, the messages
// naming the file, verify's findings and counts, and --strict.
TEST_F(DamagedArchiveTest, OneArchivePerKindOfFinding) {
    const std::string whole = build_test_archive(small_test_archive());
    auto with_header = [&](uint32_t offset, uint32_t value) {
        std::string bytes = whole;
        test_set_u32(bytes, offset, value);
        return bytes;
    };
    auto with_file = [&](uint32_t file, uint32_t field, uint32_t value) {
        std::string bytes = whole;
        test_table_set_u32(bytes, file_field(DIRS, file, field), value);
        return bytes;
    };
    expect("whole.dat", whole, Outcome::Whole, "", 3);
    expect("header-reserved28-FFFFFFFF.dat", with_header(28, 0xFFFFFFFF), Outcome::Noted,
           "header: reserved word at offset 28 is not zero", 3);
    expect("file2-size-00000000.dat", with_file(2, FILE_SIZE, 0), Outcome::Damaged, "/b.bin", 3);
    expect("file1-key-00000000.dat", with_file(1, FILE_INDEX, 0), Outcome::Both, "/a.txt", 3);

    expect("header-magic-00000000.dat", with_header(0, 0), Outcome::Refused);
    EXPECT_TRUE(contains(run_tool({"list", join(folder_, "header-magic-00000000.dat")}).err,
                         "Not EPK2 format."));
    std::string version = whole;
    version[4] = 33;
    expect("header-version-33.dat", version, Outcome::Refused);
    EXPECT_TRUE(contains(run_tool({"list", join(folder_, "header-version-33.dat")}).err,
                         "Not support version of EPK2."));
    // A damaged archive with a Japanese name is named as it was given.
    std::string looped = whole;
    test_table_set_u32(looped, dir_field(1, DIR_FIRST_CHILD), 1);
    expect("\x83\x5C\x81\x5B\x83\x58.dat", looped, Outcome::Refused);

    // Attribute bits never turn a file into a folder in the listing.
    std::string attributes = whole;
    test_table_set_u8(attributes, file_field(DIRS, 1, FILE_ATTRIBUTES), 0x80);
    expect("file1-attributes-80.dat", attributes, Outcome::Noted,
           "/a.txt: attribute byte is 0x80, not 0", 3);
    ToolRun list = run_tool({"list", join(folder_, "file1-attributes-80.dat")});
    EXPECT_TRUE(contains(list.out, "3 files, 2 directories")) << list.out;
}

TEST_F(DamagedArchiveTest, ACutShortCopyIsRefusedOrNotedByWhatItLacks) {
    const std::string whole = build_test_archive(small_test_archive());
    const uint32_t needed = test_stored_end(whole);
    ASSERT_LT(needed, whole.size());
    expect("cut-before-data.dat", whole.substr(0, needed - 1), Outcome::Refused);
    expect("cut-in-padding.dat", whole.substr(0, needed), Outcome::Noted,
           "data area: the archive ends inside the padding of the last data block", 3);
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
