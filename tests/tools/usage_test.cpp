// The command line itself: help texts, unknown commands and options,
// missing arguments, and where progress goes.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tools/tool_test_support.h"

namespace {

using namespace tooltest;

// The commands this test program covers ("update" has its own tests).
const char* const COMMANDS[] = {"list", "extract", "cat", "verify", "info", "pack", "merge"};

TEST(UsageTest, HelpOfTheToolAndOfEachCommand) {
    for (std::vector<std::string> words : {std::vector<std::string>{"--help"}, {"-h"}, {"help"}}) {
        ToolRun run = run_tool(words);
        EXPECT_EQ(run.status, 0) << words[0];
        EXPECT_EQ(run.err, "");
        EXPECT_TRUE(contains(run.out, "Usage: epk2 COMMAND")) << run.out;
        for (const char* command : COMMANDS) {
            EXPECT_TRUE(contains(run.out, std::string("\n  ") + command + " ")) << command;
        }
    }
    for (const char* command : COMMANDS) {
        const std::string usage = std::string("Usage: epk2 ") + command + " ";
        for (const char* help : {"--help", "-h"}) {
            ToolRun run = run_tool({command, help});
            EXPECT_EQ(run.status, 0) << command << " " << help;
            EXPECT_EQ(run.out.rfind(usage, 0), 0u) << run.out;
            EXPECT_EQ(run.err, "");
        }
        // Help wins over everything else on the line, even a bad option.
        ToolRun mixed = run_tool({command, "some-archive", "--help"});
        EXPECT_EQ(mixed.status, 0) << command;
        EXPECT_EQ(mixed.out.rfind(usage, 0), 0u) << mixed.out;
        ToolRun via_help = run_tool({"help", command});
        EXPECT_EQ(via_help.status, 0);
        EXPECT_EQ(via_help.out, mixed.out);
    }
    ToolRun version = run_tool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("epk2 ", 0), 0u);
}

TEST(UsageTest, BadCommandLinesExitWithStatusTwo) {
    TempDir temp;
    const std::string archive = join(temp.path(), "a.dat");
    TestArchive content;
    content.files = {{"/info.txt", "version=1.0\r\n"}};
    save_archive(archive, content);

    ToolRun nothing = run_tool({});
    EXPECT_EQ(nothing.status, 2);
    EXPECT_TRUE(contains(nothing.err, "Usage: epk2 COMMAND")) << nothing.err;
    EXPECT_EQ(nothing.out, "");

    ToolRun unknown = run_tool({"frobnicate", archive});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_TRUE(contains(unknown.err, "frobnicate")) << unknown.err;
    EXPECT_EQ(unknown.out, "");

    struct Case {
        std::vector<std::string> words;
        const char* says; // a part of the message
    } cases[] = {
        {{"list"}, "list: "},
        {{"list", archive, archive}, "list: "},
        {{"list", "--bogus", archive}, "--bogus"},
        {{"list", "--json=yes", archive}, "--json=yes"},
        {{"extract"}, "extract: "},
        {{"extract", archive, "-C"}, "-C needs a value"},
        {{"extract", archive, "--into", "x"}, "--into"},
        {{"cat", archive}, "cat: "},
        {{"cat"}, "cat: "},
        {{"cat", archive, "/info.txt", "/info.txt"}, "cat: "},
        {{"verify"}, "verify: "},
        {{"verify", "-x", archive}, "-x"},
        {{"info"}, "info: "},
        {{"info", archive, archive}, "info: "},
        {{"pack"}, "pack: "},
        {{"pack", temp.path()}, "pack: "},
        {{"pack", "-o", archive}, "pack: "},
        {{"pack", temp.path(), "-o"}, "-o needs a value"},
        {{"merge", archive, archive}, "merge: "},
        {{"merge", archive, "-o", archive}, "merge: "},
        {{"merge", "-o", archive}, "merge: "},
        {{"diff", archive, archive}, "diff: give OLD, NEW and -o PATCH"},
        {{"diff", archive, "--dry-run"}, "diff: give OLD, NEW and -o PATCH"},
        {{"update"}, "update: give exactly one INSTALL_DIR"},
        {{"keygen", "a", "b"}, "keygen: give exactly one NAME"},
        // The missing key is told first, whatever else is missing.
        {{"sign"}, "sign: give the private key with --key"},
        {{"sign", archive, archive}, "sign: give the private key with --key"},
        {{"sign", "--key", archive}, "sign: give exactly one ARCHIVE"},
    };
    for (const Case& c : cases) {
        ToolRun run = run_tool(c.words);
        std::string line;
        for (const std::string& word : c.words) {
            line += word + " ";
        }
        EXPECT_EQ(run.status, 2) << line;
        EXPECT_EQ(run.out, "") << line;
        EXPECT_EQ(run.err.rfind("epk2: ", 0), 0u) << line << run.err;
        EXPECT_TRUE(contains(run.err, c.says)) << line << run.err;
    }
    // None of these touched the archive or wrote anything beside it.
    EXPECT_EQ(snapshot(temp.path()).size(), 1u);
}

TEST(UsageTest, ProgressGoesToStandardErrorOnATerminalOnly) {
    TempDir temp;
    const std::string archive = join(temp.path(), "a.dat");
    TestArchive content;
    content.files = {{"/a.txt", make_bytes(5000, 71), 1, true}, {"/b.txt", "b", 2}};
    save_archive(archive, content);

    ToolRun quiet = run_tool({"verify", archive}, false);
    ToolRun shown = run_tool({"verify", archive}, true);
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(shown.out, quiet.out);
    EXPECT_TRUE(contains(shown.err, "verify [")) << shown.err;
    EXPECT_TRUE(contains(shown.err, "2/2 files")) << shown.err;

    // cat's output stays the entry's bytes alone.
    ToolRun cat = run_tool({"cat", archive, "/a.txt"}, true);
    EXPECT_EQ(cat.status, 0);
    EXPECT_TRUE(cat.out == make_bytes(5000, 71));
}

TEST(UsageTest, PackingRulesOverTheLimitsFailPackAndMerge) {
    TempDir temp;
    const std::string head = "[NoCompression]\r\n";
    std::string many = head;
    while (many.size() < head.size() + 65537 * 7) {
        many += "*.ogg\r\n"; // 7 bytes a pattern
    }
    const std::string base = join(temp.path(), "base.dat");
    TestArchive base_content;
    base_content.files = {{"/b.txt", "b"}};
    save_archive(base, base_content);
    const std::string folder = join(temp.path(), "src");
    make_folder(folder);
    for (const std::string& rules : {head + std::string(1 << 20, ' '), many}) {
        write_tree_file(folder, "_config.txt", rules);
        const std::string patch = join(temp.path(), "patch.dat");
        TestArchive patch_content;
        patch_content.files = {{"/_config.txt", rules, 1, true}};
        save_archive(patch, patch_content);
        const std::string out = join(temp.path(), "out.dat");
        for (std::vector<std::string> words : {std::vector<std::string>{"pack", folder, "-o", out},
                                               {"merge", patch, base, "-o", out}}) {
            ToolRun run = run_tool(words);
            EXPECT_EQ(run.status, 2) << words[0] << rules.size();
            EXPECT_TRUE(contains(run.err, "_config.txt")) << run.err;
            EXPECT_FALSE(path_exists(out)) << words[0];
        }
    }
    // The help of both says so.
    for (const char* command : {"pack", "merge"}) {
        ToolRun help = run_tool({command, "--help"});
        EXPECT_TRUE(contains(help.out, "1 MiB") && contains(help.out, "65,536")) << help.out;
    }
}

} // namespace
