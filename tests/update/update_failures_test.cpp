// Every way an update can fail leaves the installed data archive as it was,
// removes the intermediate archive and says so in the status line.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "platform/platform.h"
#include "stream/stream.h"
#include "stream/work_file.h"
#include "update/update_logic.h"
#include "update/update_texts.h"
#include "update/updater_test_support.h"

namespace {

class UpdateFailureTest : public ::testing::Test, public UpdateFixture {
  protected:
    void SetUp() override {
        pack_tree({{"info.txt", info_txt("1.0", "full")},
                   {"data/a.bin", make_bytes(5000, 1)},
                   {"_extract/readme.txt", "old readme"}},
                  data());
        write_file(join(install(), "readme.txt"), "old readme");
    }
    void pack_patch(const Tree& extra = {}) {
        Tree tree = {{"info.txt", info_txt("1.1", "full")},
                     {"data/a.bin", make_bytes(5000, 2)},
                     {"_extract/readme.txt", make_bytes(3000, 3)},
                     {"_extract/zz_last.txt", "written after the others"}};
        tree.insert(tree.end(), extra.begin(), extra.end());
        pack_tree(tree, patch());
    }
    // Refreshes (the update must be possible), keeps the installed archive's
    // bytes and runs the update with steps.
    RecordingView run(const UpdateSteps& steps) {
        RecordingView v = view();
        refresh_versions(&v);
        EXPECT_EQ(v.status(), TEXT_UPDATE_POSSIBLE);
        before = read_file(data());
        completed = run_update(&v, steps);
        return v;
    }
    RecordingView run() { return run(quiet_steps()); }
    // What every failure must leave behind.
    void expect_untouched(const RecordingView& v, const char* status) {
        EXPECT_FALSE(completed);
        EXPECT_EQ(v.status(), status);
        EXPECT_FALSE(v.details.empty());
        EXPECT_EQ(read_file(data()), before);
        EXPECT_FALSE(path_exists(intermediate()) && !is_folder(intermediate()));
        EXPECT_FALSE(path_exists(join(install(), "Tessavane.part")));
        // The user can try again: the button stays as the refresh left it.
        EXPECT_EQ(ActionMode, ACTION_MODE_UPDATE);
        EXPECT_EQ(v.text(CONTROL_ACTION), TEXT_START_UPDATE);
        EXPECT_TRUE(v.enabled);
    }
    std::string before;
    bool completed = true;
};

TEST_F(UpdateFailureTest, MergeFailures) {
    // The patch disappears between the refresh and the update (on Windows once
    // the refresh lets go of it): the update decides again and finds none.
    pack_patch();
    RecordingView v = view();
    refresh_versions(&v);
    std::string patch_bytes = read_file(patch());
#ifdef _WIN32
    EXPECT_FALSE(platform_file_delete(patch().c_str()));
    release_held_patch();
#endif
    EXPECT_TRUE(platform_file_delete(patch().c_str()));
    before = read_file(data());
    EXPECT_FALSE(run_update(&v, quiet_steps()));
    EXPECT_EQ(v.status(), TEXT_PATCH_NOT_FOUND);
    EXPECT_FALSE(v.enabled);
    EXPECT_EQ(read_file(data()), before);
    EXPECT_EQ(read_file(join(install(), "readme.txt")), "old readme");
    write_file(patch(), patch_bytes);

    // The intermediate archive cannot be created.
    make_folder(intermediate());
    v = run();
    expect_untouched(v, TEXT_INTERMEDIATE_FAILED);
    platform_remove_dir(intermediate().c_str());

    // Damaged installed data that the merge must inflate (the patch wants
    // .bin files stored): the merge fails instead of writing a short file.
    damage_entry(data(), "/data/a.bin");
    pack_tree({{"info.txt", info_txt("1.1", "full")},
               {"_config.txt", "[NoCompression]\r\n*.bin\r\n"},
               {"other.txt", "o"}},
              patch());
    v = run();
    expect_untouched(v, TEXT_INTERMEDIATE_FAILED);
    EXPECT_EQ(read_file(join(install(), "readme.txt")), "old readme");
}

// A create_file step whose file takes only a few bytes, as a full disk would.
unsigned char small_disk[16];
Stream* create_small_file(WorkFile*) {
    return stream_open_memory(small_disk, sizeof small_disk, STREAM_OPEN_WRITE, 0, nullptr);
}

TEST_F(UpdateFailureTest, LooseFileFailures) {
    // The target is a folder (readme.txt, enumerated before it, is written).
    pack_patch();
    make_folder(join(install(), "zz_last.txt"));
    RecordingView v = run();
    expect_untouched(v, TEXT_OVERWRITE_FAILED);
    EXPECT_TRUE(is_folder(join(install(), "zz_last.txt")));
    platform_remove_dir(join(install(), "zz_last.txt").c_str());

    // The disk takes fewer bytes than the entry holds.
    write_file(join(install(), "readme.txt"), "old readme");
    UpdateSteps steps = quiet_steps();
    steps.create_file = create_small_file;
    v = run(steps);
    expect_untouched(v, TEXT_OVERWRITE_FAILED);
    EXPECT_EQ(read_file(join(install(), "readme.txt")), "old readme");

    // A damaged compressed entry fails its checksum when the merge copies it,
    // so no intermediate archive is made and the old loose file stays.
    damage_entry(patch(), "/_extract/readme.txt");
    v = run();
    expect_untouched(v, TEXT_INTERMEDIATE_FAILED);
    EXPECT_EQ(read_file(join(install(), "readme.txt")), "old readme");
}

TEST_F(UpdateFailureTest, LooseFileNamesThatWouldLeaveTheFolder) {
    // (The reader refuses an archive with an empty name outright.)
    for (const char* hostile :
         {"..", ".", "CON", "a:b", "nul.txt", "Tessavane.dat", "TESSAV~1.TMP"}) {
        SCOPED_TRACE(hostile);
        pack_patch({{"_extract/QQQQQQQQQQQQQ", "payload"}});
        rename_entry(patch(), "QQQQQQQQQQQQQ", hostile);
        RecordingView v = run();
        expect_untouched(v, TEXT_OVERWRITE_FAILED);
        EXPECT_NE(v.details.front().find("_extract/"), std::string::npos) << v.details.front();
    }
    // Nothing appeared beside the install folder.
    EXPECT_FALSE(path_exists(join(root(), "QQQQQQQQQQQQQ")));
    EXPECT_FALSE(path_exists(join(root(), "a")));
    EXPECT_TRUE(is_folder(install()));
}

bool refuse_data_archive(WorkFile* work) {
    std::string target = work->destination;
    if (target.size() >= 13 && target.compare(target.size() - 13, 13, "Tessavane.dat") == 0) {
        return false;
    }
    return work_file_commit(work);
}
bool refuse_archive_sync(WorkFile* work) {
    std::string file = work->path;
    if (file.size() >= 13 && file.compare(file.size() - 13, 13, "Tessavane.tmp") == 0) {
        return false;
    }
    return work_file_sync(work);
}

TEST_F(UpdateFailureTest, AnotherUpdateHoldsTheInstallFolder) {
    pack_patch();
    const std::string lock_path = join(install(), "Tessavane.lock");
    bool busy = false;
    PlatformFile lock =
        platform_folder_lock_acquire(install().c_str(), lock_path.c_str(), 0, &busy);
    ASSERT_NE(lock, PLATFORM_INVALID_FILE);
    RecordingView v = run();
    expect_untouched(v, TEXT_OVERWRITE_FAILED);
    EXPECT_NE(v.details.front().find("another update is running"), std::string::npos);
    EXPECT_EQ(read_file(join(install(), "readme.txt")), "old readme");
    platform_folder_lock_release(lock);
    EXPECT_FALSE(path_exists(lock_path));

    v = run();
    EXPECT_TRUE(completed);
    EXPECT_FALSE(path_exists(lock_path));
}

TEST_F(UpdateFailureTest, ReplacementFailures) {
    pack_patch();
    UpdateSteps steps = quiet_steps();
    steps.replace_file = refuse_data_archive;
    RecordingView v = run(steps);
    expect_untouched(v, TEXT_OVERWRITE_FAILED);
    // The loose files were written before the replacement was tried.
    EXPECT_EQ(read_file(join(install(), "readme.txt")), make_bytes(3000, 3));

    steps = quiet_steps();
    steps.sync_file = refuse_archive_sync;
    v = run(steps);
    expect_untouched(v, TEXT_OVERWRITE_FAILED);

#ifndef _WIN32
    // A read-only data archive is not replaced by the real step either.
    chmod(data().c_str(), 0444);
    v = run();
    expect_untouched(v, TEXT_OVERWRITE_FAILED);
    chmod(data().c_str(), 0644);
#endif

    // And once nothing is in the way, the same update completes.
    v = run();
    EXPECT_TRUE(completed);
    EXPECT_EQ(v.status(), TEXT_UPDATE_COMPLETE);
}

} // namespace
