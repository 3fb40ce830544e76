// "epk2 cat" (one entry's exact bytes) and "epk2 info" (header figures and
// the version information of info.txt).
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tools/tool_test_support.h"

namespace {

using namespace tooltest;

// NUL bytes, CR LF and lone CR, bytes above 0x7F: nothing may be translated.
std::string binary_content() {
    static const char head[] = "a\0b\r\nc\r\n\0\0\xff\r\x1a\n\r";
    return std::string(head, sizeof head - 1) + make_bytes(3000, 31, false) + "\r\n";
}

class CatInfoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        archive_ = join(temp_.path(), "cat.dat");
        TestArchive archive;
        archive.files = {
            {"/bin/plain.bin", binary_content(), 1, false},
            {"/bin/packed.bin", binary_content(), 2, true},
            {"/info.txt",
             "identifer=\x83\x65\x83\x62\x83\x54\r\nversion=1.25\r\nattribute=trial\r\n", 3, true},
            {"/empty.txt", ""},
            {"/\x83\x5C.txt", "so", 4, true},
            {"/-dash.txt", "dash"},
        };
        bytes_ = save_archive(archive_, archive);
    }

    TempDir temp_;
    std::string archive_;
    std::string bytes_;
};

TEST_F(CatInfoTest, CatWritesTheExactBytes) {
    for (const char* entry : {"/bin/plain.bin", "/bin/packed.bin", "bin/packed.bin"}) {
        ToolRun run = run_tool({"cat", archive_, entry});
        EXPECT_EQ(run.status, 0) << entry << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out.size(), binary_content().size()) << entry;
        EXPECT_TRUE(run.out == binary_content()) << entry;
    }
    ToolRun empty = run_tool({"cat", archive_, "/empty.txt"});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "");
    ToolRun japanese = run_tool({"cat", archive_, arg("/\x83\x5C.txt")});
    EXPECT_EQ(japanese.status, 0) << japanese.err;
    EXPECT_EQ(japanese.out, "so");
    // "--" ends the options, so a path may begin with a dash.
    ToolRun dash = run_tool({"cat", archive_, "--", "/-dash.txt"});
    EXPECT_EQ(dash.status, 0) << dash.err;
    EXPECT_EQ(dash.out, "dash");
}

TEST_F(CatInfoTest, CatOfAMissingNameOrArchiveFails) {
    // Names compare exactly: a name that matches nothing is an error (1),
    // as tar makes it; a folder is no entry and is named as one (2).
    for (const char* entry : {"/missing.txt", "/INFO.TXT", "/bin/", "//info.txt"}) {
        ToolRun run = run_tool({"cat", archive_, entry});
        EXPECT_EQ(run.status, 1) << entry;
        EXPECT_EQ(run.out, "") << entry;
        EXPECT_TRUE(contains(run.err, "epk2: " + archive_ + ": no entry matches '" + entry + "'"))
            << run.err;
    }
    ToolRun folder_inside = run_tool({"cat", archive_, "bin"});
    EXPECT_EQ(folder_inside.status, 2);
    EXPECT_TRUE(contains(folder_inside.err, "bin is a folder in the archive")) << folder_inside.err;
    const std::string none = join(temp_.path(), "none.dat");
    ToolRun missing = run_tool({"cat", none, "/info.txt"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(contains(missing.err, none)) << missing.err;
    // A folder given as the archive is named as a folder.
    ToolRun folder = run_tool({"cat", temp_.path(), "/info.txt"});
    EXPECT_EQ(folder.status, 2);
    EXPECT_TRUE(contains(folder.err, temp_.path() + ": is a folder, not an archive")) << folder.err;
}

TEST_F(CatInfoTest, CatOfADamagedEntryIsStatusOne) {
    // /bin/packed.bin is file 2 of 2 directories (root, bin).
    const uint32_t offset = test_table_get_u32(bytes_, file_field(2, 2, 8));
    const uint32_t stored = test_table_get_u32(bytes_, file_field(2, 2, 12));

    // A bad Adler-32: every byte arrives, the checksum does not match.
    std::string adler = bytes_;
    adler[offset + stored - 1] ^= 0x01;
    const std::string adler_path = join(temp_.path(), "adler.dat");
    write_file(adler_path, adler);
    ToolRun bad_sum = run_tool({"cat", adler_path, "/bin/packed.bin"});
    EXPECT_EQ(bad_sum.status, 1);
    EXPECT_TRUE(bad_sum.out == binary_content());
    EXPECT_TRUE(contains(bad_sum.err, "epk2: " + adler_path + ": /bin/packed.bin is damaged: "))
        << bad_sum.err;
    // The other entries of that archive are whole.
    EXPECT_EQ(run_tool({"cat", adler_path, "/bin/plain.bin"}).status, 0);

    // Broken deflate data and a block cut short.
    std::string corrupt = bytes_;
    corrupt[offset + stored / 2] ^= 0x55;
    const std::string corrupt_path = join(temp_.path(), "corrupt.dat");
    write_file(corrupt_path, corrupt);
    ToolRun broken = run_tool({"cat", corrupt_path, "/bin/packed.bin"});
    EXPECT_EQ(broken.status, 1);
    EXPECT_FALSE(broken.out == binary_content());
    EXPECT_TRUE(contains(broken.err, "/bin/packed.bin is damaged")) << broken.err;

    std::string cut = bytes_;
    test_table_set_u32(cut, file_field(2, 2, 12), stored / 2);
    const std::string cut_path = join(temp_.path(), "cut.dat");
    write_file(cut_path, cut);
    ToolRun short_entry = run_tool({"cat", cut_path, "/bin/packed.bin"});
    EXPECT_EQ(short_entry.status, 1);
    EXPECT_LT(short_entry.out.size(), binary_content().size());
    EXPECT_TRUE(contains(short_entry.err, "wrong length")) << short_entry.err;

    // An archive whose table is unreadable: 1 as well.
    std::string table = bytes_;
    test_set_u32(table, 20, 0);
    const std::string table_path = join(temp_.path(), "table.dat");
    write_file(table_path, table);
    EXPECT_EQ(run_tool({"cat", table_path, "/info.txt"}).status, 1);
}

TEST_F(CatInfoTest, InfoShowsHeaderFiguresAndVersionInformation) {
    ToolRun run = run_tool({"info", archive_});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::vector<std::string> lines = lines_of(run.out);
    const std::vector<std::string> expected = {
        "archive:     " + archive_,
        "size:        " + std::to_string(bytes_.size()) + " bytes",
        "table end:   " + std::to_string(test_get_u32(bytes_, 16)),
        "directories: 1",
        "files:       6",
        "identifer:   " + arg("\x83\x65\x83\x62\x83\x54"),
        "version:     1.25",
        "attribute:   trial",
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(CatInfoTest, InfoWithoutInfoTxtAndOnBrokenArchives) {
    // info.txt counts only at the root.
    TestArchive archive;
    archive.dirs = {"/empty"};
    archive.files = {{"/sub/info.txt", "version=9\r\n"}, {"/other.txt", "x", 2, true}};
    const std::string path = join(temp_.path(), "noinfo.dat");
    const std::string bytes = save_archive(path, archive);
    ToolRun run = run_tool({"info", path});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> expected = {
        "archive:     " + path,
        "size:        " + std::to_string(bytes.size()) + " bytes",
        "table end:   " + std::to_string(test_get_u32(bytes, 16)),
        "directories: 2",
        "files:       2",
        "info.txt:    none",
    };
    EXPECT_EQ(lines_of(run.out), expected);

    // Fields that info.txt leaves out stay empty.
    TestArchive partial;
    partial.files = {{"/info.txt", "version=2.0\r\n"}};
    const std::string partial_path = join(temp_.path(), "partial.dat");
    save_archive(partial_path, partial);
    ToolRun partial_run = run_tool({"info", partial_path});
    EXPECT_EQ(partial_run.status, 0);
    EXPECT_TRUE(contains(partial_run.out, "version:     2.0\n")) << partial_run.out;
    EXPECT_TRUE(contains(partial_run.out, "identifer:   \n")) << partial_run.out;

    ToolRun missing = run_tool({"info", join(temp_.path(), "none.dat")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "");
    std::string table = bytes_;
    test_set_u32(table, 16, 1);
    const std::string table_path = join(temp_.path(), "table.dat");
    write_file(table_path, table);
    ToolRun broken = run_tool({"info", table_path});
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.out, "");
    EXPECT_TRUE(contains(broken.err, table_path)) << broken.err;
}

} // namespace
