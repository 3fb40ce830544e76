// What a folder that others can write to may hold in the tool's way: links
// where it writes, FIFOs where it reads, old files it replaces. Whatever
// the case, nothing outside the folder changes, a file is never left half
// written, and no command waits on a FIFO.
#ifndef _WIN32

#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/test_support.h"
#include "tools/tool_test_support.h"

namespace {

using namespace tooltest;

struct HostileCase {
    const char* name;
    // Plants what the case needs below work (the folder the tool is pointed
    // at) and outside (a folder it must never touch); returns the command.
    std::function<std::vector<std::string>(const std::string& work, const std::string& outside,
                                           const std::string& archive)>
        plant;
    int status;
    const char* said; // part of standard error; empty: nothing in particular
    // Further checks on the work folder afterwards; may be empty.
    std::function<void(const std::string& work)> check;
};

std::string damaged_archive(const std::string& path) {
    TestArchive archive;
    archive.files = {{"/info.txt", "version=1.0\r\n"},
                     {"/data/a.txt", make_bytes(5000, 7), 2, true}};
    std::string bytes = build_test_archive(archive);
    const uint32_t dirs = test_get_u32(bytes, 20);
    uint32_t offset = test_table_get_u32(bytes, file_field(dirs, 2, 8));
    uint32_t stored = test_table_get_u32(bytes, file_field(dirs, 2, 12));
    bytes[offset + stored / 2] ^= 0x55;
    write_file(path, bytes);
    return path;
}

void expect_regular(const std::string& path, const std::string& content) {
    struct stat info;
    ASSERT_EQ(lstat(path.c_str(), &info), 0) << path;
    EXPECT_TRUE(S_ISREG(info.st_mode)) << path << " is not a regular file";
    EXPECT_EQ(read_file(path), content) << path;
}

TEST(HostilePaths, NothingOutsideChangesAndNoCommandWaits) {
    // A FIFO opened for reading without a writer would block for ever.
    alarm(60);
    const std::string info = "version=1.0\r\n";
    const std::vector<HostileCase> cases = {
        {"extract: a link to a folder outside on the way",
         [](const std::string& work, const std::string& outside, const std::string& archive) {
             EXPECT_EQ(symlink(outside.c_str(), join(work, "data").c_str()), 0);
             return std::vector<std::string>{"extract", archive, "-C", work};
         },
         2, "is a link", nullptr},
        {"extract: the target is a link to a file outside",
         [](const std::string& work, const std::string& outside, const std::string& archive) {
             EXPECT_EQ(symlink(join(outside, "victim").c_str(), join(work, "info.txt").c_str()), 0);
             return std::vector<std::string>{"extract", archive, "-C", work};
         },
         0, "", [&](const std::string& work) { expect_regular(join(work, "info.txt"), info); }},
        {"extract: the target is a hard link to a file outside",
         [](const std::string& work, const std::string& outside, const std::string& archive) {
             EXPECT_EQ(link(join(outside, "victim").c_str(), join(work, "info.txt").c_str()), 0);
             return std::vector<std::string>{"extract", archive, "-C", work};
         },
         0, "", [&](const std::string& work) { expect_regular(join(work, "info.txt"), info); }},
        {"extract: a damaged entry leaves the old file whole",
         [](const std::string& work, const std::string&, const std::string& archive) {
             write_tree_file(work, "data/a.txt", "the old file");
             return std::vector<std::string>{"extract", damaged_archive(archive + ".bad"), "-C",
                                             work};
         },
         1, "/data/a.txt is damaged",
         [](const std::string& work) { expect_regular(join(work, "data/a.txt"), "the old file"); }},
        {"list: a FIFO",
         [](const std::string& work, const std::string&, const std::string&) {
             EXPECT_EQ(mkfifo(join(work, "pipe.dat").c_str(), 0644), 0);
             return std::vector<std::string>{"list", join(work, "pipe.dat")};
         },
         2, "not a regular file", nullptr},
        {"merge: a FIFO as the base",
         [](const std::string& work, const std::string&, const std::string& archive) {
             EXPECT_EQ(mkfifo(join(work, "base.dat").c_str(), 0644), 0);
             return std::vector<std::string>{"merge", archive, join(work, "base.dat"), "-o",
                                             join(work, "out.dat")};
         },
         2, "not a regular file", nullptr},
        {"pack: a FIFO in the folder is left out",
         [](const std::string& work, const std::string&, const std::string&) {
             write_tree_file(work, "src/a.txt", "a");
             EXPECT_EQ(mkfifo(join(work, "src/pipe").c_str(), 0644), 0);
             return std::vector<std::string>{"pack", join(work, "src"), "-o",
                                             join(work, "out.dat")};
         },
         0, "/pipe left out: not a regular file",
         [](const std::string& work) {
             ToolRun list = run_tool({"list", join(work, "out.dat")});
             EXPECT_TRUE(contains(list.out, "/a.txt")) << list.out;
             EXPECT_FALSE(contains(list.out, "pipe")) << list.out;
         }},
        {"pack: the output is a link to a file outside",
         [](const std::string& work, const std::string& outside, const std::string&) {
             write_tree_file(work, "src/a.txt", "a");
             EXPECT_EQ(symlink(join(outside, "victim").c_str(), join(work, "out.dat").c_str()), 0);
             return std::vector<std::string>{"pack", join(work, "src"), "-o",
                                             join(work, "out.dat")};
         },
         0, "",
         [](const std::string& work) {
             struct stat info;
             ASSERT_EQ(lstat(join(work, "out.dat").c_str(), &info), 0);
             EXPECT_TRUE(S_ISREG(info.st_mode));
             EXPECT_EQ(run_tool({"verify", join(work, "out.dat")}).status, 0);
         }},
        {"update: a FIFO as the installed data",
         [](const std::string& work, const std::string&, const std::string& archive) {
             EXPECT_EQ(mkfifo(join(work, "Tessavane.dat").c_str(), 0644), 0);
             return std::vector<std::string>{"update", work, "--patch", archive};
         },
         1, "", nullptr},
    };

    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir temp;
        const std::string work = join(temp.path(), "work");
        const std::string outside = join(temp.path(), "outside");
        make_folder(work);
        make_folder(outside);
        write_file(join(outside, "victim"), "not yours");
        const std::string archive = join(temp.path(), "a.dat");
        TestArchive a;
        a.files = {{"/info.txt", info}, {"/data/a.txt", "a", 1, true}};
        save_archive(archive, a);
        const Snapshot outside_before = snapshot(outside);

        std::vector<std::string> words = c.plant(work, outside, archive);
        ToolRun run = run_tool(words);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_TRUE(contains(run.err, c.said)) << run.err;
        EXPECT_EQ(snapshot(outside), outside_before);
        if (c.check) {
            c.check(work);
        }
        // No work file is left behind, wherever the command stopped.
        for (const auto& [path, bytes] : snapshot(work)) {
            EXPECT_FALSE(contains(path, ".partial-")) << path;
        }
    }
    alarm(0);
}

} // namespace

#endif
