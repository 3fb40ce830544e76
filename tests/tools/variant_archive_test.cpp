// Archives as other writers of the format lay them out: each makes one choice
// the format leaves open otherwise than epk2 pack makes it. Every one opens,
// lists, reads, updates, and passes verify with a NOTE (failing only
// --strict).
#include <gtest/gtest.h>

#include <functional>

#include "support/test_support.h"
#include "tools/tool_test_support.h"

namespace {

using namespace tooltest;

const std::string A_TXT = make_bytes(3000, 1);
const std::string README = make_bytes(900, 2);
// Five bytes deflate to 13 (2 header, 7 deflate, 4 Adler-32): a window of
// twice the size keeps the data and cuts the checksum.
const std::string MINI = "abcde";

TestArchive installed() {
    TestArchive archive;
    archive.files = {
        {"/info.txt", "identifer=Tessavane\r\nversion=1.0\r\nattribute=full\r\n", 1, true},
        {"/data/a.txt", A_TXT, 2, true},
        {"/data/b.bin", make_bytes(100, 3, false), 3, false},
        {"/data/empty.txt", "", 4, false},
        {"/_extract/readme.txt", README, 1, true},
    };
    return archive;
}

struct Variant {
    const char* name;
    std::function<void(TestArchive&)> change;
    const char* note; // part of a line "NOTE ..." verify must print
};

const Variant VARIANTS[] = {
    {"key-0", [](TestArchive& a) { a.files[1].key = 0; }, "/data/a.txt: key 0, not key 2"},
    {"keys-off-rotation", [](TestArchive& a) { a.files[2].key = 1; }, "key 1, not key 3"},
    {"attributes", [](TestArchive& a) { a.files[1].attributes = 0x21; }, "attribute byte is 0x21"},
    {"names-descending", [](TestArchive& a) { a.layout.names_descending = true; },
     "out of byte order"},
    {"records-reversed", [](TestArchive& a) { a.layout.records_reversed = true; },
     "numbered before"},
    {"blocks-reversed", [](TestArchive& a) { a.layout.blocks_reversed = true; },
     "data block starts at"},
    {"gaps", [](TestArchive& a) { a.layout.gap = 64; }, "data block starts at"},
    {"empty-at-zero", [](TestArchive& a) { a.layout.empty_at_zero = true; },
     "/data/empty.txt: data block starts at 0,"},
    {"reserved", [](TestArchive& a) { a.layout.reserved = 0xA5A5A5A5; }, "header: reserved"},
    {"index-field", [](TestArchive& a) { a.layout.index_bias = 100; }, "index field is 102"},
    {"empty-names",
     [](TestArchive& a) {
         a.files.push_back({"/data/", "lost name", 2, true});
         a.files.push_back({"/_extract/", "lost loose name", 3, true});
     },
     "/data/\"\": name is empty"},
    {"cut-tiny-stream",
     [](TestArchive& a) {
         a.files.push_back({"/_extract/mini.txt", MINI, 2, true, 0, {}, 10});
     },
     "/_extract/mini.txt: its zlib stream stops at the stored size"},
};

class VariantArchiveTest : public ::testing::TestWithParam<Variant> {};

TEST_P(VariantArchiveTest, OpensListsReadsVerifiesWithANoteAndUpdates) {
    const Variant& variant = GetParam();
    TempDir temp;
    const std::string install = join(temp.path(), "install");
    const std::string data = join(install, "Tessavane.dat");
    const std::string patch = join(temp.path(), "Patch.dat");
    make_folder(install);
    TestArchive archive = installed();
    variant.change(archive);
    save_archive(data, archive);
    save_archive(patch, {{},
                         {{"/info.txt", "identifer=Tessavane\r\nversion=1.1\r\nattribute=full\r\n"},
                          {"/data/new.txt", "new in 1.1", 2, true}},
                         {}});

    EXPECT_TRUE(contains(run_tool({"list", data}).out, "/data/empty.txt"));
    EXPECT_EQ(run_tool({"cat", data, "/data/a.txt"}).out, A_TXT);
    ToolRun verify = run_tool({"verify", data});
    EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
    bool noted = false;
    for (const std::string& line : lines_of(verify.out)) {
        noted = noted || (line.rfind("NOTE ", 0) == 0 && contains(line, variant.note));
        EXPECT_EQ(line.rfind("NOTE ", 0) == 0 || contains(line, " files checked, 0 damaged, "),
                  true)
            << line;
    }
    EXPECT_TRUE(noted) << verify.out;
    EXPECT_EQ(run_tool({"verify", "--strict", data}).status, 1);

    ToolRun merge = run_tool({"merge", patch, data, "-o", join(temp.path(), "merged.dat")});
    EXPECT_EQ(merge.status, 0) << merge.err;
    EXPECT_EQ(contains(merge.err, "warning: /data/: an entry with an empty name is left out"),
              std::string(variant.name) == "empty-names")
        << merge.err;
    ToolRun update = run_tool({"update", install, "--patch", patch});
    ASSERT_EQ(update.status, 0) << update.out << update.err;
    EXPECT_EQ(run_tool({"cat", data, "/data/a.txt"}).out +
                  run_tool({"cat", data, "data/new.txt"}).out,
              A_TXT + "new in 1.1");
    EXPECT_EQ(read_file(join(install, "readme.txt")), README);
    // The merge writes pack's own layout and leaves records without a name
    // out; an installed entry it copies as it lies keeps its cut stream.
    const bool cut = std::string(variant.name) == "cut-tiny-stream";
    EXPECT_EQ(read_file(join(install, "mini.txt")), cut ? MINI : "<missing>");
    EXPECT_EQ(run_tool({"verify", "--strict", data}).status, cut ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Writers, VariantArchiveTest, ::testing::ValuesIn(VARIANTS),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& c : name) {
                                 c = c == '-' ? '_' : c;
                             }
                             return name;
                         });

// A zlib stream that stops at its stored size: whole when every byte of the
// content came, damaged when some are missing.
TEST(CutTinyStream, ReadsBackOnlyWhenTheContentIsWhole) {
    TempDir temp;
    const std::string path = join(temp.path(), "cut.dat");
    TestArchive archive;
    archive.files = {{"/full.txt", MINI, 1, true, 0, {}, 9}, // all data, no Adler-32
                     {"/short.txt", MINI, 2, true, 0, {}, 3}};
    save_archive(path, archive);
    const struct {
        const char* entry;
        int cat_status;
        const char* verify_line;
    } cases[] = {
        {"/full.txt", 0, "NOTE /full.txt: its zlib stream stops at the stored size"},
        {"/short.txt", 1, "DAMAGED /short.txt: wrong length: "},
    };
    ToolRun verify = run_tool({"verify", path});
    EXPECT_EQ(verify.status, 1);
    const std::string out = join(temp.path(), "out");
    ToolRun extract = run_tool({"extract", path, "-C", out});
    EXPECT_EQ(extract.status, 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        ToolRun cat = run_tool({"cat", path, c.entry});
        EXPECT_EQ(cat.status, c.cat_status) << cat.err;
        EXPECT_TRUE(contains(verify.out, c.verify_line)) << verify.out;
        EXPECT_EQ(path_exists(join(out, c.entry + 1)), c.cat_status == 0);
    }
    EXPECT_EQ(run_tool({"cat", path, "/full.txt"}).out, MINI);

    // A merge checks the patch's copied entries: the whole one passes and
    // still reads back from the merged archive.
    TestArchive base;
    base.files = {{"/old.txt", "old", 1, true}};
    const std::string base_path = join(temp.path(), "base.dat");
    save_archive(base_path, base);
    archive.files.pop_back();
    save_archive(path, archive);
    const std::string merged = join(temp.path(), "merged.dat");
    ToolRun merge = run_tool({"merge", path, base_path, "-o", merged});
    ASSERT_EQ(merge.status, 0) << merge.err;
    EXPECT_EQ(run_tool({"cat", merged, "/full.txt"}).out, MINI);
}

} // namespace
