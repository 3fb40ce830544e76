// A user who may write the extraction folder swaps a folder the tool has
// just made or is about to write into for a link to a folder outside, at the
// moment between the check and the file's creation. Nothing may land
// outside; a link met on the way is refused by name.
#include <functional>
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "platform/platform.h"
#include "stream/work_file.h"
#include "support/test_support.h"
#include "tools/tool_test_support.h"

namespace {

using namespace tooltest;

// Whether a link to a folder could be made here (Wine makes symbolic links
// only in part, and Windows only with a privilege or developer mode).
bool make_folder_link(const std::string& target, const std::string& link) {
#ifdef _WIN32
    return CreateSymbolicLinkA(link.c_str(), target.c_str(),
                               SYMBOLIC_LINK_FLAG_DIRECTORY |
                                   SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0 &&
           platform_path_is_link(link.c_str());
#else
    return symlink(target.c_str(), link.c_str()) == 0;
#endif
}

std::function<void(WorkFileHookPoint, const char*)> swap_now;

void run_hook(WorkFileHookPoint point, const char* name) {
    if (swap_now) {
        swap_now(point, name);
    }
}

struct SwapCase {
    const char* name;
    WorkFileHookPoint when;
    int status;
    const char* said; // part of standard error
};

TEST(SwappedFolder, NothingLandsOutsideTheExtractionFolder) {
    const std::vector<SwapCase> cases = {
        // Made, then swapped before it is opened: the open meets the link.
        {"data made, then swapped", WORK_HOOK_FOLDER_MADE, 2, "data is a link"},
        // Opened, then swapped before the file is made: the file goes into
        // the folder that was opened, wherever it was moved (Windows holds
        // it so that it cannot be moved at all).
        {"data opened, then swapped", WORK_HOOK_FILE_CREATING, 0, ""},
    };
    for (const SwapCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir temp;
        const std::string out = join(temp.path(), "out");
        const std::string outside = join(temp.path(), "outside");
        make_folder(outside);
        const std::string archive = join(temp.path(), "a.dat");
        TestArchive a;
        a.files = {{"/data/a.txt", "a", 1, true}, {"/data/b.txt", "b", 2, true}};
        save_archive(archive, a);

        bool swapped = false, linked = false;
        swap_now = [&](WorkFileHookPoint point, const char* name) {
            bool in_data = point == WORK_HOOK_FOLDER_MADE ? std::string(name) == "data"
                                                          : !swapped && point == c.when;
            if (point != c.when || !in_data || swapped) {
                return;
            }
            swapped = platform_file_move(join(out, "data").c_str(), join(out, "moved").c_str());
            linked = swapped && make_folder_link(outside, join(out, "data"));
        };
        work_file_test_hook = run_hook;
        ToolRun run = run_tool({"extract", archive, "-C", out});
        work_file_test_hook = nullptr;
        swap_now = nullptr;

        EXPECT_EQ(snapshot(outside), Snapshot{});
        if (!swapped && c.when == WORK_HOOK_FILE_CREATING) {
#ifndef _WIN32
            ADD_FAILURE() << "the folder could not be moved";
#endif
            // Windows holds the folder: it cannot be moved, and the files
            // land where they belong.
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(read_file(join(out, "data/a.txt")), "a");
            continue;
        }
        if (!linked) {
            std::printf("%s: no link to a folder can be made here\n", c.name);
#ifndef _WIN32
            ADD_FAILURE() << "the swap did not happen";
#endif
            continue;
        }
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_TRUE(contains(run.err, c.said)) << run.err;
        if (c.status == 0) {
            EXPECT_EQ(read_file(join(out, "moved/a.txt")), "a");
            EXPECT_EQ(read_file(join(out, "moved/b.txt")), "b");
        }
    }
}

} // namespace
