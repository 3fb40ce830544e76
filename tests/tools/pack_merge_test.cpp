// "epk2 pack" and "epk2 merge": reproducible archives, Japanese names,
// packing rules, left-out .svn entries, failures that leave nothing behind,
// and merges in which the patch wins.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "support/test_support.h"
#include "tools/tool_test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

using namespace tooltest;

const std::string JP_FOLDER = "\x83\x66\x81\x5B\x83\x5E";   // データ
const std::string JP_FILE = "\x83\x5C\x81\x5B\x83\x58.txt"; // ソース.txt
const std::string JP_TABLE = "\x95\x5C.txt";                // 表.txt

// path -> compressed, from "list --json".
std::map<std::string, bool> compression_of(const std::string& archive) {
    std::map<std::string, bool> out;
    ToolRun run = run_tool({"list", "--json", archive});
    Json json;
    std::string error;
    EXPECT_TRUE(parse_json(run.out, json, error)) << error << run.out;
    for (const Json& entry : json) {
        const Json* compressed = member(entry, "compressed");
        if (compressed) {
            out[entry.at("path").get<std::string>()] = compressed->get<bool>();
        }
    }
    return out;
}

// Paths in archive order, from "list --json" (UTF-8).
std::vector<std::string> paths_of(const std::string& archive) {
    std::vector<std::string> out;
    ToolRun run = run_tool({"list", "--json", archive});
    Json json;
    std::string error;
    EXPECT_TRUE(parse_json(run.out, json, error)) << error << run.out;
    for (const Json& entry : json) {
        out.push_back(entry.at("path").get<std::string>());
    }
    return out;
}

std::string cat(const std::string& archive, const std::string& entry) {
    ToolRun run = run_tool({"cat", archive, arg(entry)});
    return run.status == 0 ? run.out : "<status " + std::to_string(run.status) + ">";
}

class PackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        source_ = join(temp_.path(), "source");
        make_folder(source_);
        const std::vector<std::pair<std::string, std::string>> files = {
            {"info.txt", "identifer=Tessavane\r\nversion=1.0\r\nattribute=full\r\n"},
            {"_config.txt", "[NoCompression]\r\n*.ogg\r\n/raw/*\r\ntext/*\r\n"},
            {"bgm/title.ogg", make_bytes(3000, 51)},
            {"raw/x.bin", make_bytes(3000, 52)},
            {"raw/deeper/y.txt", make_bytes(2000, 53)},
            {"text/a.txt", make_bytes(3000, 54)},
            {"text/noise.bin", make_bytes(5000, 55, false)},
            {"text/zero.txt", ""},
            {JP_FOLDER + "/" + JP_FILE, make_bytes(1200, 56)},
            {JP_FOLDER + "/" + JP_TABLE, "\x95\x5C\r\n"},
            {".svn/entries", "svn"},
            {"sub/.svn/text-base/x", "svn"},
            {"sub/keep.txt", "keep"},
            {"a.svnx", "not packed either"},
        };
        for (const auto& [path, content] : files) {
            write_tree_file(source_, path, content);
        }
        make_folder(join(source_, "empty"));
    }

    ToolRun pack(const std::string& output, std::vector<std::string> extra = {}) {
        std::vector<std::string> words = {"pack", arg(source_), "-o", arg(output)};
        words.insert(words.end(), extra.begin(), extra.end());
        return run_tool(words);
    }

    TempDir temp_;
    std::string source_;
};

TEST_F(PackTest, SameFolderGivesTheSameBytes) {
    const std::string a = join(temp_.path(), "a.dat");
    const std::string b = join(temp_.path(), "b.dat");
    ToolRun first = pack(a);
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.err, "");
    // 11 files; directories: root, bgm, raw, deeper, text, データ, sub, empty.
    EXPECT_TRUE(contains(first.out, a + ": 11 files in 7 directories")) << first.out;
    ToolRun second = pack(b, {"--verbose"});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_TRUE(contains(second.out, "Packing: /info.txt\n")) << second.out;
    EXPECT_TRUE(contains(second.out, "Packing Complete.")) << second.out;
    const std::string bytes = read_file(a);
    EXPECT_GT(bytes.size(), 64u);
    EXPECT_TRUE(bytes == read_file(b));
    EXPECT_EQ(run_tool({"verify", a}).status, 0);

    // No work file is left beside the archives.
    Snapshot folder = snapshot(temp_.path());
    for (const auto& [path, content] : folder) {
        EXPECT_TRUE(path == "a.dat" || path == "b.dat" || path.rfind("source/", 0) == 0) << path;
    }
}

TEST_F(PackTest, JapaneseNamesRoundTripThroughListAndExtract) {
    const std::string archive = join(temp_.path(), "jp.dat");
    ASSERT_EQ(pack(archive).status, 0);
    ToolRun list = run_tool({"list", archive});
    EXPECT_TRUE(contains(list.out, arg("/" + JP_FOLDER + "/" + JP_FILE) + "\n")) << list.out;
    EXPECT_TRUE(contains(list.out, arg("/" + JP_FOLDER + "/" + JP_TABLE) + "\n")) << list.out;
    EXPECT_EQ(cat(archive, "/" + JP_FOLDER + "/" + JP_TABLE), "\x95\x5C\r\n");

    const std::string out = join(temp_.path(), "out");
    ToolRun extract = run_tool({"extract", archive, "-C", out});
    EXPECT_EQ(extract.status, 0) << extract.err;
    Snapshot expected = snapshot(source_);
    for (auto it = expected.begin(); it != expected.end();) {
        bool svn = contains(it->first, ".svn");
        it = svn ? expected.erase(it) : std::next(it);
    }
    EXPECT_EQ(snapshot(out), expected);
    EXPECT_TRUE(expected.count(JP_FOLDER + "/" + JP_FILE));
    EXPECT_TRUE(expected.count("empty/"));
}

TEST_F(PackTest, FolderNamesEndingInTrailByte0x5CAreKept) {
    // "表" is 0x95 0x5C: its last byte is no separator to strip.
    const std::string table = join(temp_.path(), "\x95\x5C");
    make_folder(table);
    write_tree_file(table, "a.txt", "in the table");
    const std::string archive = join(temp_.path(), "table.dat");
    ToolRun packed = run_tool({"pack", arg(table), "-o", arg(archive)});
    EXPECT_EQ(packed.status, 0) << packed.err;
    const std::string out = join(temp_.path(), "out\x95\x5C");
    ToolRun extracted = run_tool({"extract", archive, "-C", arg(out)});
    EXPECT_EQ(extracted.status, 0) << extracted.err;
    EXPECT_EQ(read_file(join(out, "a.txt")), "in the table");
}

TEST_F(PackTest, ConfigRulesAndSvnEntries) {
    const std::string archive = join(temp_.path(), "rules.dat");
    ASSERT_EQ(pack(archive).status, 0);
    std::map<std::string, bool> compressed = compression_of(archive);
    // Matched by "*.ogg" in any folder and by "/raw/*" at any depth.
    EXPECT_EQ(compressed.at("/bgm/title.ogg"), false);
    EXPECT_EQ(compressed.at("/raw/x.bin"), false);
    EXPECT_EQ(compressed.at("/raw/deeper/y.txt"), false);
    // "text/*" lacks the leading "/" and matches nothing.
    EXPECT_EQ(compressed.at("/text/a.txt"), true);
    EXPECT_EQ(compressed.at("/info.txt"), true);
    EXPECT_EQ(compressed.at("/text/zero.txt"), false); // nothing to compress
    EXPECT_EQ(compressed.at(utf8("/" + JP_FOLDER + "/" + JP_FILE)), true);
    EXPECT_EQ(cat(archive, "/raw/deeper/y.txt"), make_bytes(2000, 53));
    EXPECT_EQ(cat(archive, "/text/noise.bin"), make_bytes(5000, 55, false));
    EXPECT_EQ(cat(archive, "/_config.txt"), "[NoCompression]\r\n*.ogg\r\n/raw/*\r\ntext/*\r\n");

    std::vector<std::string> paths = paths_of(archive);
    for (const std::string& path : paths) {
        EXPECT_FALSE(contains(path, ".svn")) << path;
    }
    EXPECT_NE(std::find(paths.begin(), paths.end(), "/sub/keep.txt"), paths.end());
    EXPECT_NE(std::find(paths.begin(), paths.end(), "/sub"), paths.end());
    EXPECT_NE(std::find(paths.begin(), paths.end(), "/empty"), paths.end());
}

TEST_F(PackTest, FailedPacksLeaveNothingAtTheOutput) {
    // The output's folder does not exist.
    const std::string missing = join(temp_.path(), "missing/out.dat");
    ToolRun no_folder = pack(missing);
    EXPECT_EQ(no_folder.status, 2);
    EXPECT_TRUE(contains(no_folder.err, "epk2: " + missing + ": ")) << no_folder.err;
    EXPECT_FALSE(path_exists(join(temp_.path(), "missing")));

    // The output names a folder: it cannot be replaced, and it stays as it is.
    const std::string folder_out = join(temp_.path(), "taken");
    make_folder(folder_out);
    write_file(join(folder_out, "inside.txt"), "inside");
    ToolRun taken = pack(folder_out);
    EXPECT_EQ(taken.status, 2);
    EXPECT_TRUE(contains(taken.err, folder_out)) << taken.err;
    EXPECT_EQ(snapshot(folder_out), (Snapshot{{"inside.txt", "inside"}}));

    // The folder to pack does not exist, or is a file.
    ToolRun no_source =
        run_tool({"pack", join(temp_.path(), "nothing"), "-o", join(temp_.path(), "n.dat")});
    EXPECT_EQ(no_source.status, 2);
    EXPECT_TRUE(contains(no_source.err, join(temp_.path(), "nothing"))) << no_source.err;
    ToolRun file_source =
        run_tool({"pack", join(source_, "info.txt"), "-o", join(temp_.path(), "n.dat")});
    EXPECT_EQ(file_source.status, 2);

    // Only the source folder is left; no work file anywhere.
    Snapshot left = snapshot(temp_.path());
    for (const auto& [path, content] : left) {
        EXPECT_TRUE(path.rfind("source/", 0) == 0 || path.rfind("taken/", 0) == 0) << path;
    }
}

TEST_F(PackTest, UnreadableSourceFileFailsThePack) {
    const std::string output_folder = join(temp_.path(), "output");
    make_folder(output_folder);
    const std::string output = join(output_folder, "out.dat");
#ifdef _WIN32
    // A file that another program holds open without sharing cannot be read.
    const std::string locked = join(source_, "text/locked.txt");
    write_file(locked, "locked");
    HANDLE handle = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ToolRun run = pack(output);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.err, "epk2: " + output + ": ")) << run.err;
    EXPECT_TRUE(contains(run.err, "/text/locked.txt")) << run.err;
    EXPECT_EQ(snapshot(output_folder), Snapshot{});
    // An existing archive at the output is kept when the pack fails.
    write_file(output, "previous");
    EXPECT_EQ(pack(output).status, 2);
    CloseHandle(handle);
#else
    // A link to nothing lists as a file but cannot be opened.
    const std::string link = join(source_, "text/gone.txt");
    ASSERT_EQ(symlink(join(temp_.path(), "never-there").c_str(), link.c_str()), 0);
    ToolRun run = pack(output);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.err, "epk2: " + output + ": ")) << run.err;
    EXPECT_TRUE(contains(run.err, "/text/gone.txt")) << run.err;
    EXPECT_EQ(snapshot(output_folder), Snapshot{});
    unlink(link.c_str());

    // A name with no code page 932 form cannot go into an archive.
    write_whole_file(source_ + "/text/\xF0\x9F\x98\x80.txt", "emoji");
    ToolRun emoji = pack(output);
    EXPECT_EQ(emoji.status, 2);
    EXPECT_TRUE(contains(emoji.err, "epk2: " + source_ + "/text/\xF0\x9F\x98\x80.txt: "))
        << emoji.err;
    EXPECT_EQ(snapshot(output_folder), Snapshot{});
    // An existing archive at the output is kept when the pack fails.
    write_file(output, "previous");
    EXPECT_EQ(pack(output).status, 2);
#endif
    EXPECT_EQ(read_file(output), "previous");
    EXPECT_EQ(snapshot(output_folder), (Snapshot{{"out.dat", "previous"}}));
}

class MergeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        patch_ = join(temp_.path(), "patch.dat");
        base_ = join(temp_.path(), "base.dat");
        TestArchive patch;
        patch.dirs = {"/_extract"};
        patch.files = {
            {"/info.txt", "identifer=Tessavane\r\nversion=1.1\r\nattribute=full\r\n", 1, true},
            {"/_config.txt", "[NoCompression]\r\n*.ogg\r\n", 0, false},
            {"/data/common.txt", make_bytes(2000, 61), 2, true},
            {"/_extract/new.txt", "new loose file\r\n", 3, false},
            {"/bgm/new.ogg", make_bytes(1500, 62), 4, true},
        };
        TestArchive base;
        base.dirs = {"/empty"};
        base.files = {
            {"/info.txt", "identifer=Tessavane\r\nversion=1.0\r\nattribute=full\r\n", 2, true},
            {"/data/common.txt", "old content", 1, true},
            {"/data/base_only.bin", make_bytes(4000, 63, false), 3, false},
            {"/bgm/a.ogg", make_bytes(2500, 64), 4, true},
            {"/" + JP_FOLDER + "/" + JP_FILE, make_bytes(800, 65), 1, true},
        };
        patch_bytes_ = save_archive(patch_, patch);
        base_bytes_ = save_archive(base_, base);
    }

    void expect_merged(const std::string& archive) {
        EXPECT_EQ(run_tool({"verify", archive}).status, 0);
        // The patch wins; what only the base holds is kept.
        EXPECT_TRUE(contains(cat(archive, "/info.txt"), "version=1.1"));
        EXPECT_EQ(cat(archive, "/data/common.txt"), make_bytes(2000, 61));
        EXPECT_EQ(cat(archive, "/data/base_only.bin"), make_bytes(4000, 63, false));
        EXPECT_EQ(cat(archive, "/_extract/new.txt"), "new loose file\r\n");
        EXPECT_EQ(cat(archive, "/bgm/a.ogg"), make_bytes(2500, 64));
        EXPECT_EQ(cat(archive, "/bgm/new.ogg"), make_bytes(1500, 62));
        EXPECT_EQ(cat(archive, "/" + JP_FOLDER + "/" + JP_FILE), make_bytes(800, 65));
        // The patch's entries come first, then what only the base holds.
        const std::vector<std::string> expected = {
            "/_extract",
            "/_extract/new.txt",
            "/data",
            "/data/common.txt",
            "/data/base_only.bin",
            "/bgm",
            "/bgm/new.ogg",
            "/bgm/a.ogg",
            "/empty",
            utf8("/" + JP_FOLDER),
            utf8("/" + JP_FOLDER + "/" + JP_FILE),
            "/info.txt",
            "/_config.txt",
        };
        EXPECT_EQ(paths_of(archive), expected);
        // The patch's _config.txt rules: .ogg files stored, the rest deflated.
        std::map<std::string, bool> compressed = compression_of(archive);
        EXPECT_FALSE(compressed.at("/bgm/a.ogg"));
        EXPECT_FALSE(compressed.at("/bgm/new.ogg"));
        EXPECT_TRUE(compressed.at("/data/common.txt"));
        EXPECT_TRUE(compressed.at("/data/base_only.bin"));
    }

    TempDir temp_;
    std::string patch_, base_;
    std::string patch_bytes_, base_bytes_;
};

TEST_F(MergeTest, PatchWinsAndBaseOnlyEntriesAreKept) {
    const std::string out = join(temp_.path(), "merged.dat");
    ToolRun run = run_tool({"merge", patch_, base_, "-o", out});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(contains(run.out, out + ": 8 files in 5 directories")) << run.out;
    expect_merged(out);
    // The sources are untouched.
    EXPECT_TRUE(read_file(patch_) == patch_bytes_);
    EXPECT_TRUE(read_file(base_) == base_bytes_);

    // Recompressing gives the same content.
    const std::string again = join(temp_.path(), "recompressed.dat");
    ToolRun recompress = run_tool({"merge", patch_, base_, "-o", again, "--recompress"});
    EXPECT_EQ(recompress.status, 0) << recompress.err;
    expect_merged(again);
    EXPECT_EQ(run_tool({"list", "--json", again}).out, run_tool({"list", "--json", out}).out)
        << "same entries, sizes, keys and compression";
    const std::string a = join(temp_.path(), "x1");
    const std::string b = join(temp_.path(), "x2");
    EXPECT_EQ(run_tool({"extract", out, "-C", a}).status, 0);
    EXPECT_EQ(run_tool({"extract", again, "-C", b}).status, 0);
    EXPECT_EQ(snapshot(a), snapshot(b));
}

TEST_F(MergeTest, OutputMayBeTheBaseItself) {
    ToolRun run = run_tool({"merge", patch_, base_, "-o", base_});
    EXPECT_EQ(run.status, 0) << run.err;
    expect_merged(base_);
    // Only the two archives remain in the folder.
    Snapshot folder = snapshot(temp_.path());
    EXPECT_EQ(folder.size(), 2u);
    EXPECT_TRUE(folder.count("patch.dat") && folder.count("base.dat"));
}

TEST_F(MergeTest, FailedMergeLeavesTheBaseAsItWas) {
    // A patch entry whose Adler-32 is wrong cannot be inflated whole, so a
    // recompressing merge fails; the base it was to replace stays intact.
    std::string damaged = patch_bytes_;
    const uint32_t dirs = test_get_u32(damaged, 20);
    const uint32_t offset = test_table_get_u32(damaged, file_field(dirs, 3, 8));
    const uint32_t stored = test_table_get_u32(damaged, file_field(dirs, 3, 12));
    damaged[offset + stored - 1] ^= 0x01;
    write_file(patch_, damaged);
    ToolRun run = run_tool({"merge", patch_, base_, "-o", base_, "--recompress"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.err, "epk2: " + base_ + ": ")) << run.err;
    EXPECT_TRUE(contains(run.err, "/data/common.txt")) << run.err;
    EXPECT_TRUE(read_file(base_) == base_bytes_);
    Snapshot folder = snapshot(temp_.path());
    EXPECT_EQ(folder.size(), 2u);

    // Sources that are missing or no archives: nothing is written.
    const std::string out = join(temp_.path(), "out.dat");
    ToolRun missing = run_tool({"merge", join(temp_.path(), "none.dat"), base_, "-o", out});
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(contains(missing.err, join(temp_.path(), "none.dat"))) << missing.err;
    write_file(join(temp_.path(), "text.dat"), "no archive");
    ToolRun not_archive = run_tool({"merge", patch_, join(temp_.path(), "text.dat"), "-o", out});
    EXPECT_EQ(not_archive.status, 1);
    EXPECT_TRUE(contains(not_archive.err, join(temp_.path(), "text.dat"))) << not_archive.err;
    EXPECT_FALSE(path_exists(out));
}

} // namespace
