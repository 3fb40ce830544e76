// Names that go into an archive but never out of it are named when packing
// (an error with --strict), and no argument the user typed reaches the
// terminal raw, escape bytes included.
#include <functional>
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tools/tool_test_support.h"

namespace {

using namespace tooltest;

const std::string ESC = "\x1B";

struct NameCase {
    const char* name;
    // Plants files below src (and whatever else) in temp; returns the command.
    std::function<std::vector<std::string>(const std::string& temp)> plant;
    int status;
    std::string said; // part of standard error ("" for nothing in particular)
    std::string told; // part of standard output
    bool windows_too; // false where Windows cannot make the file's name
};

TEST(RefusedNames, PackWarnsOrFailsAndArgumentsAreEscaped) {
    auto pack = [](const std::string& temp, const std::string& name, bool strict) {
        make_folder(join(temp, "src"));
        write_tree_file(join(temp, "src"), "data/ok.txt", "ok");
        write_tree_file(join(temp, "src"), name, "x");
        std::vector<std::string> words = {"pack", join(temp, "src"), "-o", join(temp, "a.dat")};
        if (strict) {
            words.push_back("--strict");
        }
        return words;
    };
    auto archive = [](const std::string& temp, const std::string& name) {
        TestArchive a;
        a.files = {{"/info.txt", "version=1.0\r\n"}};
        save_archive(join(temp, name), a);
        return join(temp, name);
    };
    const std::vector<NameCase> cases = {
        {"ESC in a name", [&](auto t) { return pack(t, "data/e" + ESC + "[31m.txt", false); }, 0,
         "warning: ", "2 files", false},
        {"ESC in a name, strict", [&](auto t) { return pack(t, "data/e" + ESC + ".txt", true); }, 1,
         "1 name would not be extracted", "", false},
        {"a backslash", [&](auto t) { return pack(t, "data/a\\b.txt", false); }, 0,
         "backslash in the name", "", false},
        {"a device name", [&](auto t) { return pack(t, "data/nul.txt", true); }, 1,
         "reserved device name", "", false},
        {"the updater's own name below /_extract",
         [&](auto t) { return pack(t, "_extract/sub/TESSAVANE.DAT", true); }, 1,
         "the updater would stop at this loose file", "", true},
        {"the same name elsewhere is fine",
         [&](auto t) { return pack(t, "data/Tessavane.dat", true); }, 0, "", "2 files", true},
        {"a pattern that matches nothing",
         [&](auto t) {
             return std::vector<std::string>{"extract", archive(t, "a.dat"), "-C", join(t, "out"),
                                             "x" + ESC + "[2J\n"};
         },
         1, "no entry matches 'x\\x1B[2J\\n'", "", true},
        {"a missing archive",
         [&](auto t) {
             return std::vector<std::string>{"list", join(t, ESC + "]0;t.dat")};
         },
         2, "\\x1B]0;t.dat: no such file", "", true},
        {"an archive named with ESC",
         [&](auto t) {
             return std::vector<std::string>{"verify", archive(t, ESC + "x.dat")};
         },
         0, "", "\\x1Bx.dat: 1 files checked", false},
    };
    for (const NameCase& c : cases) {
#ifdef _WIN32
        if (!c.windows_too) {
            continue;
        }
#endif
        SCOPED_TRACE(c.name);
        TempDir temp;
        const std::vector<std::string> words = c.plant(temp.path());
        ToolRun run = run_tool(words);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_TRUE(contains(run.err, c.said)) << run.err;
        EXPECT_TRUE(contains(run.out, c.told)) << run.out;
        EXPECT_FALSE(contains(run.err + run.out, ESC)) << run.err << run.out;
        if (c.status == 1 && words[0] == "pack") {
            EXPECT_FALSE(path_exists(join(temp.path(), "a.dat"))) << "--strict wrote the archive";
        }
    }
}

} // namespace
