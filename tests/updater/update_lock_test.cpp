// The install folder's lock and the patch's snapshot, against someone who
// may write the install folder or the patch's folder while an update runs.
#include <gtest/gtest.h>

#include <chrono>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/platform.h"
#include "update_texts.h"
#include "updater/updater_test_support.h"

namespace {

class UpdateLockTest : public ::testing::Test, public UpdateFixture {
  protected:
    void SetUp() override {
        pack_tree({{"info.txt", info_txt("1.1", "full")}, {"b.txt", "old b"}}, data());
        pack_tree({{"info.txt", info_txt("1.2", "full")}, {"b.txt", "new b"}}, patch());
    }
    std::string lock_file() const { return join(install(), "Tessavane.lock"); }
    std::string b() const { return archive_entry(data(), "/b.txt"); }
};

// The patch's folder is exchanged for one with a patch older than the data
// after the dialog decided. The update decides again from what it reads and
// applies nothing; where the held patch keeps the exchange from happening,
// the held patch is applied.
TEST_F(UpdateLockTest, PatchFolderExchangedAfterTheDecision) {
    const std::string older = join(root(), "older"), updater = join(root(), "updater");
    make_folder(older);
    pack_tree({{"info.txt", info_txt("1.05", "full")}, {"b.txt", "older b"}},
              join(older, "Patch.dat"));
    RecordingView v = view();
    refresh_versions(&v);
    ASSERT_EQ(v.status(), TEXT_UPDATE_POSSIBLE);
    const bool exchanged = platform_file_move(updater.c_str(), join(root(), "away").c_str()) &&
                           platform_file_move(older.c_str(), updater.c_str());
    const bool completed = run_update(&v, quiet_steps());
    EXPECT_EQ(completed, !exchanged);
    EXPECT_EQ(b(), exchanged ? "old b" : "new b");
    if (exchanged) {
        EXPECT_EQ(v.status(), TEXT_NO_UPDATE_NEEDED);
        EXPECT_EQ(v.text(CONTROL_PATCH_VERSION), "Ver.1.05 (full)");
    }
#ifndef _WIN32
    EXPECT_TRUE(exchanged);
#endif
}

RecordingView second;
UpdateSteps second_steps;
std::string removed_lock;
bool lock_removed = false, second_completed = true;
int64_t second_waited_ms = 0;

// While the first run holds the lock: its file (where there is one) is
// deleted and a second run started.
void remove_lock_and_run_again(const char*) {
    lock_removed = platform_file_delete(removed_lock.c_str());
    auto begin = std::chrono::steady_clock::now();
    second_completed = run_update(&second, second_steps);
    second_waited_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - begin)
                           .count();
}

TEST_F(UpdateLockTest, RemovingTheLockLetsNoSecondRunIn) {
    second = view();
    second_steps = quiet_steps();
    removed_lock = lock_file();
    UpdateSteps steps = quiet_steps();
    steps.patch_opened = remove_lock_and_run_again;
    RecordingView v = view();
    refresh_versions(&v);
    EXPECT_TRUE(run_update(&v, steps)) << (v.details.empty() ? "" : v.details.back());
    EXPECT_EQ(b(), "new b");
    EXPECT_FALSE(lock_removed); // Windows refuses; POSIX has no lock file
    EXPECT_FALSE(second_completed);
    EXPECT_EQ(second.status(), TEXT_OVERWRITE_FAILED);
    ASSERT_FALSE(second.details.empty());
    EXPECT_NE(second.details.back().find("another update is running"), std::string::npos);
    EXPECT_GE(second_waited_ms, int64_t(UPDATE_LOCK_WAIT_MS) - 50);
    EXPECT_FALSE(path_exists(lock_file()));
}

bool fake_busy = false;
PlatformFile refuse_lock(const char*, const char*, uint32_t, bool* busy) {
    *busy = fake_busy;
    return PLATFORM_INVALID_FILE;
}

// Only a lock held by another run reads "another update is running"; one
// that cannot be made at all gives the words of an intermediate archive
// that cannot be made, at once.
TEST_F(UpdateLockTest, TheLocksWords) {
    enum Setting { HELD, UNMADE, FOLDER_NAMED_LOCK, READ_ONLY_FOLDER };
    const struct {
        Setting setting;
        const char* status; // null: the update completes
        const char* detail;
    } rows[] = {
        {HELD, TEXT_OVERWRITE_FAILED, "another update is running"},
        {UNMADE, TEXT_INTERMEDIATE_FAILED, "cannot lock the install folder"},
#ifdef _WIN32
        {FOLDER_NAMED_LOCK, TEXT_INTERMEDIATE_FAILED, "cannot lock the install folder"},
#else
        // The lock is the folder itself: nothing under the old name matters.
        {FOLDER_NAMED_LOCK, nullptr, ""},
        // Root writes a folder whatever its mode: the row needs a plain user.
        {READ_ONLY_FOLDER, TEXT_INTERMEDIATE_FAILED, "cannot create"},
#endif
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.setting);
#ifndef _WIN32
        if (row.setting == READ_ONLY_FOLDER && geteuid() == 0) {
            continue;
        }
        if (row.setting == READ_ONLY_FOLDER) {
            chmod(install().c_str(), 0555);
        }
#endif
        if (row.setting == FOLDER_NAMED_LOCK) {
            make_folder(lock_file());
        }
        const std::string before = read_file(data());
        UpdateSteps steps = quiet_steps();
        fake_busy = row.setting == HELD;
        if (row.setting == HELD || row.setting == UNMADE) {
            steps.lock_folder = refuse_lock;
        }
        RecordingView v = view();
        refresh_versions(&v);
        auto begin = std::chrono::steady_clock::now();
        const bool completed = run_update(&v, steps);
        auto took = std::chrono::steady_clock::now() - begin;
#ifndef _WIN32
        chmod(install().c_str(), 0755);
#endif
        if (row.setting == FOLDER_NAMED_LOCK) {
            platform_remove_dir(lock_file().c_str());
        }
        EXPECT_EQ(completed, row.status == nullptr);
        if (!row.status) {
            write_file(data(), before);
            continue;
        }
        EXPECT_EQ(v.status(), row.status);
        ASSERT_FALSE(v.details.empty());
        EXPECT_NE(v.details.back().find(row.detail), std::string::npos) << v.details.back();
        EXPECT_EQ(read_file(data()), before);
        EXPECT_LT(took, std::chrono::milliseconds(UPDATE_LOCK_WAIT_MS / 2));
    }
}

} // namespace
