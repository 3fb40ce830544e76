// A user who may write the install folder's parent swaps the install folder
// for a link to another folder while the merge runs, or just before the
// first loose file is made. The loose files still go into the folder that
// was opened with the lock, never through the link.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/platform.h"
#include "stream/work_file.h"
#include "update/updater_test_support.h"

namespace {

struct SwappedInstallTest : ::testing::Test, UpdateFixture {};

std::string install_path, outside_path;
bool swapped = false;

void swap_now() {
    if (swapped) {
        return;
    }
    swapped = platform_file_move(install_path.c_str(), (install_path + ".moved").c_str());
#ifndef _WIN32
    EXPECT_TRUE(swapped);
    EXPECT_EQ(symlink(outside_path.c_str(), install_path.c_str()), 0);
#endif
}

void swap_at_first_loose_file(WorkFileHookPoint point, const char* name) {
    if (point == WORK_HOOK_FILE_CREATING && std::string(name) == "Tessavane.part") {
        swap_now();
    }
}

void swap_during_merge(const char*) {
    swap_now();
}

TEST_F(SwappedInstallTest, LooseFilesStayInTheFolderThatWasOpened) {
    pack_tree({{"info.txt", info_txt("1.1", "full")},
               {"_extract/readme.txt", "new readme"},
               {"_extract/sub/tool.ini", "new ini"}},
              patch());
    install_path = install();
    outside_path = join(root(), "outside");
    make_folder(outside_path);
    write_file(join(outside_path, "readme.txt"), "not yours");

    for (bool during_merge : {false, true}) {
        SCOPED_TRACE(during_merge ? "swapped during the merge" : "swapped at the first loose file");
        if (swapped) {
            // Back to the real folder for the next round.
            ASSERT_TRUE(platform_path_clear(install_path.c_str()));
            ASSERT_TRUE(
                platform_file_move((install_path + ".moved").c_str(), install_path.c_str()));
            swapped = false;
        }
        pack_tree({{"info.txt", info_txt("1.0", "full")}, {"data/a.txt", "old"}}, data());
        platform_file_delete(join(install_path, "readme.txt").c_str());
        platform_file_delete(join(install_path, "tool.ini").c_str());
        RecordingView v = view();
        refresh_versions(&v);
        UpdateSteps steps = quiet_steps();
        if (during_merge) {
            steps.patch_opened = swap_during_merge;
        } else {
            work_file_test_hook = swap_at_first_loose_file;
        }
        run_update(&v, steps);
        work_file_test_hook = nullptr;

        EXPECT_EQ(read_file(join(outside_path, "readme.txt")), "not yours");
        EXPECT_FALSE(path_exists(join(outside_path, "tool.ini")));
        EXPECT_FALSE(path_exists(join(outside_path, "Tessavane.dat")));
        // Windows holds the install folder while it writes there: it cannot
        // be moved, and the files land where they belong.
        const std::string held = swapped ? install_path + ".moved" : install_path;
        EXPECT_EQ(read_file(join(held, "readme.txt")), "new readme");
        EXPECT_EQ(read_file(join(held, "tool.ini")), "new ini");
    }
}

} // namespace
