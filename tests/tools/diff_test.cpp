// "epk2 diff": for each case, every pairing of folders and archives gives
// the patch an independent reckoning of the two trees expects, refuses what
// the updater would refuse, and, applied by "epk2 update" to an install of
// OLD, leaves data whose every file is NEW's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>

#include "archive/archive_fs.h"
#include "cli/cli.h"
#include "platform/wildcard.h"
#include "support/test_support.h"
#include "support/text.h"
#include "tools/tool_test_support.h"
#include "update/update_texts.h"

namespace {

using namespace tooltest;

// Relative path ("data/a.txt", code page 932) -> content; "name/" is an
// empty folder.
using Files = std::map<std::string, std::string>;

const std::string SO = "\x83\x5C";                        // ソ: trail byte 0x5C
const std::string JP_FOLDER = "\x83\x5C\x81\x5B\x83\x58"; // ソース
const std::string JP_FILE = "\x95\x5C\x8E\xA6.txt";       // 表示.txt: trail byte 0x5C

std::string info(const std::string& version, const std::string& attribute = "full") {
    return "identifer=Tessavane\r\nversion=" + version + "\r\nattribute=" + attribute + "\r\n";
}

Files base_tree() {
    return {
        {"info.txt", info("1.0")},
        {"_config.txt", "[NoCompression]\r\n*.ogg\r\n"},
        {"data/a.txt", make_bytes(3000, 1)},
        {"data/same.txt", make_bytes(5000, 2)},
        {"data/empty.txt", ""},
        {"data/big.bin", make_bytes(700000, 3)},
        {"bgm/title.ogg", make_bytes(4000, 4, false)},
        {JP_FOLDER + "/" + JP_FILE, make_bytes(1200, 5)},
        {"_extract/readme.txt", "old readme\r\n"},
        {"tools/run.exe", make_bytes(900, 6, false)},
        {"tools/keep.exe", make_bytes(800, 7, false)},
    };
}

bool is_file(const std::string& path) {
    return path.back() != '/' && path.find(".svn") == std::string::npos;
}

struct DiffCase {
    const char* name;
    std::function<void(Files& old_files, Files& new_files)> change;
    std::vector<std::string> options; // code page 932
    int status;
    std::string said; // part of standard error (console form); empty: nothing in particular
    // A file whose stored bytes are broken in OLD when OLD is an archive.
    std::string damaged_in_old = "";
};

// What the trees say the patch must hold, reckoned here on its own.
struct Reckoning {
    std::set<std::string> changed, added, removed, copies; // "/path", code page 932
};

Reckoning reckon(const Files& old_files, const Files& new_files, const DiffCase& c,
                 bool old_archive) {
    Reckoning r;
    if (old_archive && !c.damaged_in_old.empty()) {
        r.changed.insert("/" + c.damaged_in_old); // NEW's replaces it
    }
    bool rewritten = false;
    std::vector<std::string> patterns;
    for (size_t i = 0; i < c.options.size(); ++i) {
        rewritten = rewritten || c.options[i] == "--version" || c.options[i] == "--attribute";
        if (c.options[i] == "--extract") {
            patterns.push_back(c.options[i + 1]);
        }
    }
    for (const auto& [path, content] : new_files) {
        if (!is_file(path)) {
            continue;
        }
        auto old = old_files.find(path);
        if (old == old_files.end()) {
            r.added.insert("/" + path);
        } else if (old->second != content || (rewritten && path == "info.txt")) {
            r.changed.insert("/" + path);
        }
    }
    for (const auto& [path, content] : old_files) {
        if (is_file(path) && !new_files.count(path)) {
            r.removed.insert("/" + path);
        }
    }
    for (const auto* set : {&r.changed, &r.added}) {
        for (const std::string& path : *set) {
            bool control = path == "/info.txt" || path == "/_config.txt";
            bool matched = false;
            for (const std::string& pattern : patterns) {
                matched = matched || wildcard_match(path.c_str(), pattern.c_str());
            }
            if (matched && !control && path.rfind("/_extract/", 0) != 0) {
                r.copies.insert("/_extract/" + std::string(path_file_name(path.c_str())));
            }
        }
    }
    return r;
}

void write_tree(const std::string& root, const Files& files) {
    make_folder(root);
    for (const auto& [path, content] : files) {
        if (path.back() == '/') {
            make_folder(join(root, path.substr(0, path.size() - 1)));
        } else {
            write_tree_file(root, path, content);
        }
    }
}

std::set<std::string> json_paths(const Json& json, const char* list) {
    std::set<std::string> paths;
    const Json* items = member(json, list);
    EXPECT_TRUE(items) << list;
    for (const Json& item : items ? *items : Json::array()) {
        paths.insert(item.at("path").get<std::string>());
    }
    return paths;
}

std::set<std::string> utf8_set(const std::set<std::string>& cp932) {
    std::set<std::string> out;
    for (const std::string& path : cp932) {
        out.insert(utf8(path));
    }
    return out;
}

// The files of an archive, from "list --json".
std::set<std::string> archive_files(const std::string& archive) {
    Json json;
    std::string error;
    EXPECT_TRUE(parse_json(run_tool({"list", "--json", archive}).out, json, error)) << error;
    std::set<std::string> files;
    for (const Json& entry : json) {
        if (entry.at("type") == "file") {
            files.insert(entry.at("path").get<std::string>());
        }
    }
    return files;
}

// Installs OLD, applies the patch as the updater does, and checks every
// file of the updated data: NEW's, or OLD's where it stays, or the copy
// of NEW's file under /_extract; and the loose files beside it.
void round_trip(const std::string& temp, const Files& old_files, const Files& new_files,
                const std::string& patch, const Reckoning& r, const std::string& info_line) {
    const std::string install = join(temp, "install");
    make_folder(install);
    const std::string data = join(install, "Tessavane.dat");
    ASSERT_EQ(run_tool({"pack", join(temp, "old"), "-o", data}).status, 0);
    ToolRun update = run_tool({"update", install, "--patch", patch});
    ASSERT_EQ(update.status, 0) << update.out << update.err;
    const std::string after = join(temp, "after");
    ASSERT_EQ(run_tool({"extract", data, "-C", after}).status, 0);
    Snapshot got = snapshot(after);
    Files want;
    for (const auto& [path, content] : new_files) {
        if (is_file(path) && path != "info.txt") {
            want[path] = content;
        }
    }
    for (const std::string& path : r.removed) {
        want[path.substr(1)] = old_files.at(path.substr(1));
    }
    for (const std::string& copy : r.copies) {
        for (const auto& [path, content] : new_files) {
            if (("/_extract/" + std::string(path_file_name(path.c_str()))) == copy &&
                (r.changed.count("/" + path) || r.added.count("/" + path))) {
                want[copy.substr(1)] = content;
            }
        }
    }
    for (const auto& [path, content] : want) {
        EXPECT_TRUE(got.count(path) && got[path] == content) << "after the update: " << path;
        if (path.rfind("_extract/", 0) == 0) {
            EXPECT_EQ(read_file(join(install, path_file_name(path.c_str()))), content) << path;
        }
    }
    for (const auto& [path, content] : new_files) {
        if (path.back() == '/') {
            EXPECT_TRUE(got.count(path)) << "folder " << path;
        }
    }
    EXPECT_TRUE(contains(got["info.txt"], info_line)) << got["info.txt"];
    EXPECT_TRUE(contains(got["info.txt"], "identifer=Tessavane\r\n")) << got["info.txt"];
}

// Breaks the deflated bytes of one entry past its scrambled head.
void damage_entry(const std::string& archive, const std::string& path) {
    ArchiveEntryInfo entry{};
    FileSystem* fs = archive_open(nullptr, archive.c_str(), nullptr);
    ASSERT_TRUE(fs && archive_entry_info(fs, ("/" + path).c_str(), &entry)) << path;
    fs_close(fs);
    ASSERT_GT(entry.stored_size, 1200u);
    std::string bytes = read_file(archive);
    bytes[entry.data_offset + entry.stored_size - 100] ^= 0x5A;
    write_file(archive, bytes);
}

// Runs one case; returns the patch's bytes (empty when none was written).
std::string run_case(const DiffCase& c, bool old_archive, bool new_archive) {
    TempDir temp;
    Files old_files = base_tree();
    Files new_files = base_tree();
    c.change(old_files, new_files);
    write_tree(join(temp.path(), "old"), old_files);
    write_tree(join(temp.path(), "new"), new_files);
    std::string old_side = join(temp.path(), "old");
    std::string new_side = join(temp.path(), "new");
    if (old_archive) {
        EXPECT_EQ(run_tool({"pack", old_side, "-o", old_side + ".dat"}).status, 0);
        old_side += ".dat";
        if (!c.damaged_in_old.empty()) {
            damage_entry(old_side, c.damaged_in_old);
        }
    }
    if (new_archive) {
        EXPECT_EQ(run_tool({"pack", new_side, "-o", new_side + ".dat"}).status, 0);
        new_side += ".dat";
    }
    const std::string out = join(temp.path(), "out");
    make_folder(out);
    const std::string patch = join(out, "Patch.dat");
    std::vector<std::string> words = {"diff", old_side, new_side, "-o", patch};
    for (const std::string& option : c.options) {
        words.push_back(arg(option));
    }
    ToolRun text = run_tool(words);
    EXPECT_EQ(text.status, c.status) << text.out << text.err;
    EXPECT_TRUE(contains(text.err, c.said)) << text.err;
    const bool dry = std::find(c.options.begin(), c.options.end(), "--dry-run") != c.options.end();
    if (c.status != 0 || dry) {
        EXPECT_EQ(snapshot(out).size(), 0u) << "nothing may be written";
        EXPECT_EQ(contains(text.out, "dry run: nothing written"), dry) << text.out;
        EXPECT_TRUE(dry || text.out.empty()) << text.out;
        return "";
    }
    const Reckoning r = reckon(old_files, new_files, c, old_archive);
    EXPECT_TRUE(contains(text.out, "applying " + patch + " to " + old_side + " gives " + new_side +
                                       ": " + std::to_string(r.changed.size()) +
                                       " files changed, " + std::to_string(r.added.size()) +
                                       " added, " + std::to_string(r.removed.size()) +
                                       " removed\n"))
        << text.out;
    for (const std::string& path : r.removed) {
        EXPECT_TRUE(contains(text.err, "warning: stays after the update: " + arg(path) + "\n"))
            << text.err;
    }

    // The same patch again, with the summary for scripts: the same bytes.
    const std::string first_bytes = read_file(patch);
    words.push_back("--json");
    ToolRun json_run = run_tool(words);
    EXPECT_EQ(json_run.status, 0) << json_run.err;
    EXPECT_TRUE(read_file(patch) == first_bytes);
    Json json;
    std::string error;
    if (!parse_json(json_run.out, json, error)) {
        ADD_FAILURE() << error << json_run.out;
        return first_bytes;
    }
    EXPECT_EQ(json_paths(json, "changed"), utf8_set(r.changed));
    EXPECT_EQ(json_paths(json, "added"), utf8_set(r.added));
    EXPECT_EQ(json_paths(json, "removed"), utf8_set(r.removed));
    EXPECT_EQ(json_paths(json, "extract"), utf8_set(r.copies));
    EXPECT_EQ(json.at("proof").at("removed").get<double>(), double(r.removed.size()));

    // The patch holds what changed, its control files, and the copies.
    std::set<std::string> carried = r.changed;
    carried.insert(r.added.begin(), r.added.end());
    carried.insert(r.copies.begin(), r.copies.end());
    carried.insert("/info.txt");
    if (new_files.count("_config.txt")) {
        carried.insert("/_config.txt");
    }
    EXPECT_EQ(archive_files(patch), utf8_set(carried));
    EXPECT_EQ(snapshot(out).size(), 1u) << "no work file is left beside the patch";

    std::string version = json.at("patch").at("version").get<std::string>();
    round_trip(temp.path(), old_files, new_files, patch, r, "version=" + version + "\r\n");
    return first_bytes;
}

TEST(DiffTest, PatchesForEveryPairingOfFoldersAndArchives) {
    const std::vector<DiffCase> cases = {
        {"changed, added, removed, unchanged and empty files; folders new and gone",
         [](Files& old_files, Files& new_files) {
             old_files["data/gone.txt"] = "gone";
             old_files["old_folder/x.txt"] = "x";
             new_files["info.txt"] = info("1.1");
             new_files["data/a.txt"] = make_bytes(3000, 11); // same size, other bytes
             new_files["data/empty.txt"] = "no longer empty";
             new_files["data/new_empty.txt"] = "";
             new_files["data/added.txt"] = make_bytes(2000, 12);
             new_files["bgm/title.ogg"] = make_bytes(4000, 13, false); // stored, not deflated
             new_files["data/big.bin"] = make_bytes(700000, 3) + "!";
             new_files["_extract/readme.txt"] = "new readme\r\n";
             new_files["fresh/"] = "";
         },
         {},
         0,
         "warning: stays after the update: /old_folder/\n"},
        {"double-byte names, one with a 0x5C trail byte in each place",
         [](Files& old_files, Files& new_files) {
             old_files[SO + "/" + SO + "1.txt"] = "so";
             old_files[JP_FOLDER + "/" + SO + "gone.txt"] = "gone";
             new_files = old_files;
             new_files["info.txt"] = info("1.1");
             new_files[JP_FOLDER + "/" + JP_FILE] = make_bytes(1200, 15);
             new_files[SO + "/" + SO + "2.txt"] = "new";
             new_files[SO + SO + "/" + JP_FILE] = "added";
             new_files.erase(JP_FOLDER + "/" + SO + "gone.txt");
         },
         {},
         0,
         ""},
        {"only a new version: the patch holds info.txt and _config.txt",
         [](Files&, Files&) {},
         {"--version", "1.2"},
         0,
         ""},
        {"--version and --attribute rewrite NEW's info.txt, keeping its other lines",
         [](Files&, Files& new_files) {
             new_files["info.txt"] = info("0.5", "trial");
             new_files["data/a.txt"] = "changed";
         },
         {"--version", "2.0", "--attribute", "full"},
         0,
         ""},
        {"--extract puts matching changed files under /_extract by their last name",
         [](Files&, Files& new_files) {
             new_files["info.txt"] = info("1.1");
             new_files["tools/run.exe"] = make_bytes(900, 16, false);
             new_files["tools/" + SO + "setup.exe"] = "setup";
         },
         {"--extract", "/tools/*.exe", "--extract", "*.txt"},
         0,
         ""},
        {".svn entries are left out on both sides",
         [](Files& old_files, Files& new_files) {
             old_files["data/.svn/entries"] = "old";
             new_files["info.txt"] = info("1.1");
             new_files["data/.svn/entries"] = "new";
             new_files[".svn/base"] = "new";
         },
         {},
         0,
         ""},
        {"an entry of OLD that cannot be read whole is replaced by NEW's",
         [](Files&, Files& new_files) { new_files["info.txt"] = info("1.1"); },
         {},
         0,
         "",
         "data/same.txt"},
        {"--dry-run compares and writes nothing",
         [](Files&, Files& new_files) { new_files["info.txt"] = info("1.1"); },
         {"--dry-run"},
         0,
         ""},
        {"a version that is not higher, as the updater compares them (1.00 is 1.0)",
         [](Files&, Files& new_files) {
             new_files["info.txt"] = info("1.00");
             new_files["data/a.txt"] = "changed";
         },
         {},
         1,
         to_console(TEXT_NO_UPDATE_NEEDED)},
        {"another attribute",
         [](Files&, Files& new_files) { new_files["info.txt"] = info("1.1", "trial"); },
         {},
         1,
         to_console(TEXT_KIND_DIFFERS)},
        {"--strict with a file that would stay",
         [](Files&, Files& new_files) {
             new_files["info.txt"] = info("1.1");
             new_files.erase("data/a.txt");
         },
         {"--strict"},
         1,
         "stays after the update: /data/a.txt"},
        {"--extract sending two files to one name",
         [](Files&, Files& new_files) {
             new_files["info.txt"] = info("1.1");
             new_files["a/x.bin"] = "a";
             new_files["b/x.bin"] = "b";
         },
         {"--extract", "*.bin"},
         2,
         "would both go to /_extract/x.bin"},
    };
    for (const DiffCase& c : cases) {
        std::string patches[4];
        for (int pairing = 0; pairing < 4; ++pairing) {
            bool old_archive = pairing & 1;
            bool new_archive = pairing & 2;
            SCOPED_TRACE(std::string(c.name) + (old_archive ? " / OLD archive" : " / OLD folder") +
                         (new_archive ? ", NEW archive" : ", NEW folder"));
            patches[pairing] = run_case(c, old_archive, new_archive);
        }
        // A tree gives one patch whether it was given as a folder or packed;
        // a damaged OLD archive rightly gives one more file.
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(patches[0] == patches[2]) << "OLD folder: NEW folder and archive differ";
        EXPECT_TRUE(patches[1] == patches[3]) << "OLD archive: NEW folder and archive differ";
        EXPECT_TRUE(!c.damaged_in_old.empty() || patches[0] == patches[1])
            << "OLD as a folder and as an archive differ";
    }
}

TEST(DiffTest, WarnsWhereTheUpdatedDataAreNotNew) {
    // Every file of NEW arrives, so the proof holds, yet the result differs
    // from NEW: both kinds of a name, or loose files that end up on one name.
    const struct {
        const char* name;
        Files adds; // "old/..." to OLD, "new/..." to NEW
        std::vector<std::string> options;
        const char* said; // empty: no warning of either kind
    } cases[] = {
        {"a file of OLD is a folder in NEW",
         {{"old/data/thing", "f"}, {"new/data/thing/in", "i"}},
         {},
         "/data/thing is a file in"},
        {"a folder of OLD is a file in NEW",
         {{"old/data/thing/in", "i"}, {"new/data/thing", "f"}},
         {},
         "/data/thing is a folder in"},
        {"two loose files of one name in different folders",
         {{"new/_extract/a/x.txt", "a"}, {"new/_extract/b/x.txt", "b"}},
         {},
         "/_extract/a/x.txt, /_extract/b/x.txt: all become the loose file x.txt"},
        {"names that differ in case only",
         {{"new/_extract/a/Readme.TXT", "a"}},
         {},
         "/_extract/a/Readme.TXT, /_extract/readme.txt: all become"},
        {"a copy of --extract and a loose file of NEW in a sub-folder",
         {{"new/tools/run.exe", "changed"}, {"new/_extract/bin/run.exe", "other"}},
         {"--extract", "/tools/*.exe"},
         "/_extract/bin/run.exe, /_extract/run.exe: all become"},
        {"a loose file of OLD that stays and one NEW adds",
         {{"old/_extract/old/y.txt", "old"}, {"new/_extract/new/y.txt", "new"}},
         {},
         "/_extract/new/y.txt, /_extract/old/y.txt: all become"},
        // ア and ヂ differ only in a trail byte that looks like "A" or "a".
        {"double-byte names and names outside /_extract",
         {{"new/_extract/a/\x83\x41", "a"}, {"new/_extract/b/\x83\x61", "b"}, {"new/data/x", ""}},
         {},
         ""},
    };
    for (const auto& c : cases) {
        for (bool archives : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (archives ? " / archives" : " / folders"));
            TempDir temp;
            Files old_files = base_tree();
            Files new_files = base_tree();
            new_files["info.txt"] = info("1.1");
            for (const auto& [path, content] : c.adds) {
                (path.rfind("old/", 0) == 0 ? old_files : new_files)[path.substr(4)] = content;
            }
            std::string old_side = join(temp.path(), "old");
            std::string new_side = join(temp.path(), "new");
            write_tree(old_side, old_files);
            write_tree(new_side, new_files);
            if (archives) {
                for (std::string* side : {&old_side, &new_side}) {
                    ASSERT_EQ(run_tool({"pack", *side, "-o", *side + ".dat"}).status, 0);
                    *side += ".dat";
                }
            }
            const std::string patch = join(temp.path(), "Patch.dat");
            std::vector<std::string> words = {"diff", old_side, new_side, "-o", patch};
            for (const std::string& option : c.options) {
                words.push_back(arg(option));
            }
            ToolRun plain = run_tool(words);
            EXPECT_EQ(plain.status, 0) << plain.err;
            const bool warns = *c.said != '\0';
            EXPECT_EQ(contains(plain.err, "warning: "), warns) << plain.err;
            EXPECT_TRUE(contains(plain.err, c.said)) << plain.err;
            EXPECT_TRUE(contains(plain.out, "applying ")) << plain.out;
            std::remove(patch.c_str());
            words.push_back("--strict");
            ToolRun strict = run_tool(words);
            EXPECT_EQ(strict.status, warns ? 1 : 0) << strict.err;
            EXPECT_EQ(file_exists(patch), !warns) << "--strict writes nothing when it refuses";
        }
    }
}

TEST(DiffTest, CommandLinesThatCannotMakeAPatch) {
    TempDir temp;
    const std::string old_folder = join(temp.path(), "old");
    const std::string new_folder = join(temp.path(), "new");
    write_tree(old_folder, base_tree());
    Files new_files = base_tree();
    new_files["info.txt"] = info("1.1");
    write_tree(new_folder, new_files);
    const std::string patch = join(temp.path(), "Patch.dat");
    const std::string missing = join(temp.path(), "missing");
    struct Refused {
        std::vector<std::string> words;
        int status;
        const char* said;
    } cases[] = {
        {{"diff", old_folder}, 2, "give OLD, NEW and -o PATCH"},
        {{"diff", old_folder, new_folder}, 2, "give OLD, NEW and -o PATCH"},
        {{"diff", old_folder, new_folder, "-o", new_folder}, 2, "-o names OLD or NEW"},
        {{"diff", old_folder, new_folder, "-o", temp.path() + "/"}, 2, "is a folder"},
        {{"diff", old_folder, missing, "-o", patch}, 2, "no such file"},
        {{"diff", old_folder, new_folder, "-o", patch, "--version", "1=2"}, 2, "--version takes"},
        {{"diff", old_folder, new_folder, "-o", patch, "--version="}, 2, "--version needs"},
        {{"diff", old_folder, new_folder, "-o", patch, "--attribute", "a\nb"}, 2, "--attribute"},
        {{"diff", old_folder, new_folder, "-o", patch, "--bogus"}, 2, "--bogus"},
    };
    for (const Refused& c : cases) {
        ToolRun run = run_tool(c.words);
        std::string line;
        for (const std::string& word : c.words) {
            line += word + " ";
        }
        EXPECT_EQ(run.status, c.status) << line << run.err;
        EXPECT_TRUE(contains(run.err, c.said)) << line << run.err;
        EXPECT_EQ(run.out, "") << line;
    }
    // Nothing was written beside the trees.
    for (const auto& [path, content] : snapshot(temp.path())) {
        EXPECT_TRUE(path.rfind("old/", 0) == 0 || path.rfind("new/", 0) == 0) << path;
    }
}

} // namespace
