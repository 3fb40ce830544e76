// Command lines as people type them, with the status they must end with and
// the words their message must hold: every refusal names what the user gave
// and why, once. Runs on both builds (the Windows one under Wine).
#include <gtest/gtest.h>

#include <regex>

#include "cli/cli.h"
#include "epk2.h"
#include "support/test_support.h"
#include "tools/tool_test_support.h"

namespace {

using namespace tooltest;

TEST(CommandLines, EveryOptionAHelpTextNamesIsAccepted) {
    // The options a help text offers: those of its Usage lines and of its
    // list of options (lines that begin with one). Examples of other
    // programs' command lines (openssl, cmake) are not the tool's.
    // The tool's own options are "--word" or "-X"; "-word" is another
    // program's (openssl's -out).
    const std::regex in_usage(R"((^|[\s\[])(--[a-zA-Z][-a-zA-Z]*|-[a-zA-Z])\b)");
    const std::regex listed(R"(^\s{2,}(--[a-zA-Z][-a-zA-Z]*|-[a-zA-Z])\b)");
    for (const Command& command : epk2_commands()) {
        std::vector<std::string> offered;
        bool usage_lines = false;
        for (const std::string& line : lines_of(command.definition.help)) {
            usage_lines = line.rfind("Usage:", 0) == 0 ||
                          (usage_lines && line.rfind(" ", 0) == 0 &&
                           line.find("epk2") == std::string::npos && !line.empty());
            std::smatch match;
            if (usage_lines) {
                for (auto it = std::sregex_iterator(line.begin(), line.end(), in_usage);
                     it != std::sregex_iterator(); ++it) {
                    offered.push_back((*it)[2]);
                }
            } else if (std::regex_search(line, match, listed)) {
                offered.push_back(match[1]);
            }
        }
        for (const std::string& name : offered) {
            if (name == "--help" || name == "-h") {
                continue;
            }
            bool known = false;
            for (const std::string& flag : command.definition.flags) {
                known = known || flag == name;
            }
            for (const std::string& valued : command.definition.valued) {
                known = known || valued == name;
            }
            EXPECT_TRUE(known) << "epk2 " << command.name << " --help names " << name
                               << ", which the command refuses";
        }
    }
}

struct CommandLine {
    std::vector<std::string> words; // "{A}" is the archive, "{T}" the temporary folder
    int status;
    std::string said; // in standard error (or output, for status 0)
};

TEST(CommandLines, RefusalsNameWhatAndWhy) {
    TempDir temp;
    const std::string archive = join(temp.path(), "a.dat");
    TestArchive content;
    content.files = {{"/info.txt", "version=1.0\r\n"}, {"/data/a.txt", "a", 1, true}};
    save_archive(archive, content);
    write_file(join(temp.path(), "plain.txt"), "not an archive, just text long enough to be one");
    write_tree_file(temp.path(), "src/b.txt", "b");
    make_folder(join(temp.path(), "out-folder"));

    const std::vector<CommandLine> lines = {
        {{"pack", "{T}/plain.txt", "-o", "{T}/x.dat"}, 2, "plain.txt: is a file, not a folder"},
        {{"pack", "{T}/nowhere", "-o", "{T}/x.dat"}, 2, "nowhere: no such folder"},
        {{"pack", "{T}/src", "-o", "{T}/out-folder"}, 2, "out-folder: is a folder"},
        {{"list", "{T}/src"}, 2, "src: is a folder, not an archive"},
        {{"list", "{T}/plain.txt"}, 1, "not a readable EPK2 archive: Not EPK2 format."},
        {{"list", "{T}/none.dat"}, 2, "none.dat: no such file"},
        {{"cat", "{A}", "data"}, 2, "data is a folder in the archive"},
        {{"cat", "{A}", "/data/nothing.txt"}, 1, "no entry matches '/data/nothing.txt'"},
        {{"cat", "{A}", "data/a.txt"}, 0, "a"},
        {{"extract", "{A}", "-C", "{T}/x1", "data/a.txt"}, 0, "extracted 1 file to"},
        {{"extract", "{A}", "-C", "{T}/x2", "*.none"}, 1, "no entry matches '*.none'"},
        {{"extract", "{A}", "-C", "{T}/plain.txt"}, 2, "cannot create the folder"},
        {{"merge", "{A}", "{A}", "-o", "{T}/m.dat", "--check-base"}, 0, "1 directory"},
        {{"pack", "{T}/src", "-o", "{T}/p.dat"}, 0, "1 file in 0 directories"},
        {{"info", "{A}"}, 0, "directories: 1"},
        {{"merge", "{A}", "{A}", "-o", "{T}/m.dat", "--check-everything"}, 2, "unknown option"},
    };
    for (const CommandLine& line : lines) {
        std::vector<std::string> words;
        std::string shown;
        for (std::string word : line.words) {
            for (auto [mark, value] :
                 {std::pair<std::string, std::string>{"{A}", archive}, {"{T}", temp.path()}}) {
                if (size_t at = word.find(mark); at != std::string::npos) {
                    word.replace(at, mark.size(), value);
                }
            }
            words.push_back(word);
            shown += word + " ";
        }
        ToolRun run = run_tool(words);
        EXPECT_EQ(run.status, line.status) << shown << "\n" << run.err;
        const std::string& text = line.status == 0 ? run.out : run.err;
        EXPECT_TRUE(contains(text, line.said)) << shown << "\n" << text;
        if (line.status != 0) {
            // Said once, on one line.
            EXPECT_EQ(lines_of(run.err).size(), 1u) << shown << "\n" << run.err;
        }
    }
}

} // namespace

namespace {

// The Windows console writer converts whole characters only: a chunk that
// ends in the middle of one keeps its lead byte for the next chunk.
TEST(CommandLines, ConsoleChunksEndOnWholeCharacters) {
    const struct {
        std::string bytes;
        size_t whole;
    } cases[] = {
        {"", 0},
        {"abc", 3},
        {"\x83\x5C", 2},     // ソ, its trail byte a backslash
        {"a\x83", 1},        // the lead byte waits
        {"\x83\x5C\x83", 2}, // a whole character, then half of one
        {"\x81/", 2},        // a lead byte before "/" stands alone
        {"\x81\x7F\x82", 2}, // so does one before 0x7F; the last waits
        {"\xA0\xDF", 2},     // half-width katakana are single bytes
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cp932_whole_characters(c.bytes.data(), c.bytes.size()), c.whole) << c.bytes;
    }
}

} // namespace
