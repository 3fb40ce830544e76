// "epk2 extract": the archive's tree below -C DIR, file selection by
// patterns, and names that must never become paths outside DIR.
#include <gtest/gtest.h>

#include <set>

#include "support/test_support.h"
#include "tools/tool_test_support.h"

namespace {

using namespace tooltest;

const std::string JP_FOLDER = "\x83\x66\x81\x5B\x83\x5E";   // データ
const std::string JP_FILE = "\x83\x5C\x81\x5B\x83\x58.txt"; // ソース.txt (trail byte 0x5C)
const std::string INFO = "identifer=Tessavane\r\nversion=1.0\r\nattribute=full\r\n";

TestArchive tree_archive() {
    TestArchive archive;
    archive.dirs = {"/empty", "/deep/er/est"};
    archive.files = {
        {"/info.txt", INFO, 1, true},
        {"/data/A.TXT", make_bytes(3000, 21), 2, true},
        {"/data/b.dat", make_bytes(1500, 22, false), 3, false},
        {"/data/zero.dat", ""},
        {"/_extract/readme.txt", "read me\r\n", 4, false},
        {"/_extract/sub/x.dat", make_bytes(70000, 23, false), 1, true},
        {"/" + JP_FOLDER + "/" + JP_FILE, "\x93\xfa\x96\x7b\r\n", 2, true},
    };
    return archive;
}

// What extracting the archive's files accepted by keep (and, with folders,
// its directories) leaves on disk, in snapshot form.
Snapshot expected_tree(const TestArchive& archive, bool folders,
                       const std::set<std::string>& only = {}) {
    Snapshot tree;
    auto add_parents = [&](const std::string& path, bool include_last) {
        size_t slash = 0;
        while ((slash = path.find('/', slash + 1)) != std::string::npos) {
            tree[path.substr(1, slash)] = "<folder>";
        }
        if (include_last) {
            tree[path.substr(1) + "/"] = "<folder>";
        }
    };
    if (folders) {
        for (const std::string& dir : archive.dirs) {
            add_parents(dir, true);
        }
    }
    for (const TestArchiveFile& file : archive.files) {
        if (!only.empty() && !only.count(file.path)) {
            continue;
        }
        add_parents(file.path, false);
        tree[file.path.substr(1)] = file.contents;
    }
    return tree;
}

class ExtractTest : public ::testing::Test {
  protected:
    void SetUp() override {
        archive_ = join(temp_.path(), "tree.dat");
        save_archive(archive_, tree_archive());
        out_ = join(temp_.path(), "out");
    }
    ToolRun extract(std::vector<std::string> patterns) {
        std::vector<std::string> words = {"extract", archive_, "-C", out_};
        for (const std::string& pattern : patterns) {
            words.push_back(arg(pattern));
        }
        return run_tool(words);
    }

    TempDir temp_;
    std::string archive_;
    std::string out_;
};

TEST_F(ExtractTest, RecreatesTheWholeTreeBelowTheFolder) {
    EXPECT_FALSE(path_exists(out_));
    ToolRun run = extract({});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(contains(run.out, "extracted 7 files to " + out_)) << run.out;
    Snapshot got = snapshot(out_);
    EXPECT_EQ(got, expected_tree(tree_archive(), true));
    EXPECT_TRUE(got.count("empty/"));
    EXPECT_TRUE(got.count("deep/er/est/"));
    EXPECT_EQ(got[JP_FOLDER + "/" + JP_FILE], "\x93\xfa\x96\x7b\r\n");
    EXPECT_EQ(got["data/zero.dat"], "");

    // Again into the same folder, given with a trailing separator: the
    // files are written anew, the result is the same.
    write_file(join(out_, "data/b.dat"), "stale");
    ToolRun again = run_tool({"extract", archive_, "-C", out_ + "/"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(snapshot(out_), expected_tree(tree_archive(), true));
}

TEST_F(ExtractTest, PatternsSelectFilesByFullPathIgnoringCase) {
    ToolRun txt = extract({"*.txt"});
    EXPECT_EQ(txt.status, 0) << txt.err;
    EXPECT_TRUE(contains(txt.out, "extracted 4 files")) << txt.out;
    // Only the folders that hold a selected file are made.
    EXPECT_EQ(snapshot(out_), expected_tree(tree_archive(), false,
                                            {"/info.txt", "/data/A.TXT", "/_extract/readme.txt",
                                             "/" + JP_FOLDER + "/" + JP_FILE}));

    out_ = join(temp_.path(), "out2");
    ToolRun loose = extract({"/_extract/*"});
    EXPECT_EQ(loose.status, 0) << loose.err;
    EXPECT_EQ(snapshot(out_), expected_tree(tree_archive(), false,
                                            {"/_extract/readme.txt", "/_extract/sub/x.dat"}));

    // Several patterns add up; letters match in either case, in the
    // pattern and in the path.
    out_ = join(temp_.path(), "out3");
    ToolRun both = extract({"/DATA/*.DAT", "/_EXTRACT/README.*", "/" + JP_FOLDER + "/*"});
    EXPECT_EQ(both.status, 0) << both.err;
    EXPECT_EQ(snapshot(out_),
              expected_tree(tree_archive(), false,
                            {"/data/b.dat", "/data/zero.dat", "/_extract/readme.txt",
                             "/" + JP_FOLDER + "/" + JP_FILE}));

    // A pattern that matches nothing is an error, as tar makes it, though
    // the others are extracted; a name without its leading "/" is the same.
    out_ = join(temp_.path(), "out4");
    ToolRun none = extract({"*.none", "info.txt"});
    EXPECT_EQ(none.status, 1) << none.err;
    EXPECT_TRUE(contains(none.out, "extracted 1 file ")) << none.out;
    EXPECT_TRUE(contains(none.err, "no entry matches '*.none'")) << none.err;
    EXPECT_EQ(snapshot(out_), (Snapshot{{"info.txt", INFO}}));
}

TEST_F(ExtractTest, NamesThatCouldEscapeAreRefusedAndNothingLandsOutside) {
    // The archive lies in parent/, the extraction goes to parent/out; an
    // escape would land in parent/ or in the temporary folder above it.
    const std::string parent = join(temp_.path(), "parent");
    make_folder(parent);
    write_file(join(parent, "sentinel.txt"), "keep");
    const std::string path = join(parent, "hostile.dat");

    const std::vector<std::string> unsafe_files = {
        "/../up.txt",
        "/./dot.txt",
        "/sub/../../esc.txt",
        "/back\\slash.txt",
        "/c:colon.txt",
        "/CON",
        "/nul.txt",
        "/COM1",
        "/LPT9.dat",
        "/con .txt",
        "/Aux.log",
        "/trail.",
        "/blank ",
        "/x/..\\..\\win.txt",
    };
    // Directory entries refused along with them.
    const std::vector<std::string> unsafe_dirs = {"/..", "/.", "/sub/..", "/sub/../.."};
    TestArchive archive;
    archive.files = {{"/good.txt", "good"},
                     {"/\x83\x5C.txt", "so", 1, true},
                     {"/\x83\x5C/inner.txt", "inner", 2, false},
                     {"/x/\x95\x5C.txt", "table"}};
    for (const std::string& name : unsafe_files) {
        archive.files.push_back({name, "escaped:" + name});
    }
    const size_t refused = unsafe_files.size() + unsafe_dirs.size();
    save_archive(path, archive);

    const Snapshot before = snapshot(temp_.path());
    const std::string out = join(parent, "out");
    ToolRun run = run_tool({"extract", path, "-C", out});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(contains(run.out, "extracted 4 files to " + out + " (" + std::to_string(refused) +
                                      " refused, 0 damaged, 0 failed)"))
        << run.out;
    for (const std::string& name : unsafe_files) {
        EXPECT_TRUE(contains(run.err, "epk2: refused " + arg(name) + ": ")) << name << run.err;
    }
    for (const std::string& dir : unsafe_dirs) {
        EXPECT_TRUE(contains(run.err, "epk2: refused " + dir + ": ")) << dir << run.err;
    }

    // The safe ones are there, the double-byte characters whose trail byte
    // is 0x5C included; nothing else is.
    Snapshot expected = {{"good.txt", "good"},       {"\x83\x5C.txt", "so"},
                         {"\x83\x5C/", "<folder>"},  {"\x83\x5C/inner.txt", "inner"},
                         {"sub/", "<folder>"},       {"x/", "<folder>"},
                         {"x/\x95\x5C.txt", "table"}};
    EXPECT_EQ(snapshot(out), expected);

    // Nothing outside out/ changed.
    Snapshot after = snapshot(temp_.path());
    for (auto it = after.begin(); it != after.end();) {
        it = it->first.rfind("parent/out/", 0) == 0 ? after.erase(it) : std::next(it);
    }
    EXPECT_EQ(after, before);
}

TEST_F(ExtractTest, NamesWithControlCharactersAreRefusedAndShownEscaped) {
    // Shown raw, these would retitle the terminal or forge a message line.
    const struct {
        std::string name, shown;
    } cases[] = {
        {"/\x1B]0;owned\x07.txt", "/\\x1B]0;owned\\x07.txt"},
        {"/dir\n/epk2: fake.txt", "/dir\\n/epk2: fake.txt"},
        {"/bell\x07\x7F\r\t", "/bell\\x07\\x7F\\r\\t"},
    };
    TestArchive archive;
    for (const auto& c : cases) {
        archive.files.push_back({c.name, "refused", 2, true});
    }
    save_archive(archive_, archive);
    ToolRun run = extract({});
    EXPECT_EQ(run.status, 1);
    // One line per refused entry; the folder of the second is refused too.
    const std::vector<std::string> lines = lines_of(run.err);
    EXPECT_EQ(lines.size(), std::size(cases) + 1) << run.err;
    for (const std::string& line : lines) {
        for (unsigned char ch : line) {
            EXPECT_FALSE(ch < 0x20 || ch == 0x7F) << line;
        }
    }
    for (const auto& c : cases) {
        EXPECT_TRUE(contains(run.err, "epk2: refused " + c.shown + ": ")) << c.shown << run.err;
    }
}

TEST_F(ExtractTest, FilesWithAnyAttributeBitsAreWrittenAsFiles) {
    TestArchive archive;
    archive.dirs = {"/folder"};
    archive.files = {{"/flagged.bin", "flagged", 1, true, 0x80},
                     {"/folder/all.txt", "all bits", 2, false, 0xFF},
                     {"/folder/ro.txt", "read-only bit", 0, false, 0x01}};
    const std::string path = join(temp_.path(), "attributes.dat");
    save_archive(path, archive);
    ToolRun run = run_tool({"extract", path, "-C", out_});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(snapshot(out_), expected_tree(archive, true));
}

TEST_F(ExtractTest, EntriesWithEmptyNamesAreSkippedWithANote) {
    // Records whose stored name is empty: a file at the top, and a folder
    // with a file in it. No path finds them; the rest extracts.
    TestArchive archive;
    archive.files = {
        {"/good.txt", "good"}, {"/a//b.txt", "inside a nameless folder"}, {"/", "nameless"}};
    const std::string path = join(temp_.path(), "empty-component.dat");
    save_archive(path, archive);
    ToolRun run = run_tool({"extract", path, "-C", out_});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(contains(run.err, "note: skipped /a/\"\"/b.txt: its name in the archive is empty"))
        << run.err;
    EXPECT_TRUE(contains(run.err, "note: skipped /\"\": ")) << run.err;
    EXPECT_EQ(run_tool({"cat", path, "/a//b.txt"}).status, 1); // no path finds them
    EXPECT_EQ(snapshot(out_), (Snapshot{{"a/", "<folder>"}, {"good.txt", "good"}}));
}

TEST_F(ExtractTest, DamagedEntriesAreNamedAndTheRestIsExtracted) {
    TestArchive archive = tree_archive();
    std::string bytes = build_test_archive(archive);
    // /data/A.TXT is file 2 in a table of 9 directories: root, empty, deep,
    // er, est, data, _extract, sub, the Japanese folder.
    const uint32_t dirs = test_get_u32(bytes, 20);
    ASSERT_EQ(dirs, 9u);
    uint32_t offset = test_table_get_u32(bytes, file_field(dirs, 2, 8));
    uint32_t stored = test_table_get_u32(bytes, file_field(dirs, 2, 12));
    bytes[offset + stored / 2] ^= 0x55;
    write_file(archive_, bytes);

    ToolRun run = extract({});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.err, "epk2: " + archive_ + ": /data/A.TXT is damaged: ")) << run.err;
    EXPECT_TRUE(contains(run.out, "extracted 6 files")) << run.out;
    EXPECT_TRUE(contains(run.out, "(0 refused, 1 damaged, 0 failed)")) << run.out;
    Snapshot got = snapshot(out_);
    Snapshot expected = expected_tree(archive, true);
    got.erase("data/A.TXT");
    expected.erase("data/A.TXT");
    EXPECT_EQ(got, expected);
}

TEST_F(ExtractTest, FailuresOfTheTargetFolderOrTheArchive) {
    // -C names a file: the folder cannot be made.
    const std::string file = join(temp_.path(), "plain.txt");
    write_file(file, "x");
    ToolRun blocked = run_tool({"extract", archive_, "-C", file});
    EXPECT_EQ(blocked.status, 2);
    EXPECT_TRUE(contains(blocked.err, file)) << blocked.err;
    EXPECT_EQ(read_file(file), "x");

    // A file where a folder of the archive must go: that folder is named
    // once with the reason, its entries fail, the others are written, and
    // the status says input/output error.
    make_folder(out_);
    write_file(join(out_, "data"), "in the way");
    ToolRun in_the_way = extract({});
    EXPECT_EQ(in_the_way.status, 2);
    EXPECT_EQ(lines_of(in_the_way.err).size(), 1u) << in_the_way.err;
    EXPECT_TRUE(contains(in_the_way.err, "cannot extract /data: ")) << in_the_way.err;
    EXPECT_EQ(read_file(join(out_, "data")), "in the way");
    EXPECT_EQ(read_file(join(out_, "info.txt")), INFO);

    // Missing archive: 2; not an archive: 1.
    ToolRun missing = run_tool({"extract", join(temp_.path(), "none.dat"), "-C", out_});
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(contains(missing.err, join(temp_.path(), "none.dat"))) << missing.err;
    ToolRun not_archive = run_tool({"extract", file, "-C", out_});
    EXPECT_EQ(not_archive.status, 1);
    EXPECT_TRUE(contains(not_archive.err, file)) << not_archive.err;
}

} // namespace
