// The install folder's lock and the patch's snapshot, against someone who
// may write the install folder or the patch's folder while an update runs.
#include <gtest/gtest.h>

#include <chrono>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/platform.h"
#include "update/update_texts.h"
#include "update/updater_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

class UpdateLockTest : public ::testing::Test, public UpdateFixture {
  protected:
    void SetUp() override {
        pack_tree({{"info.txt", info_txt("1.1", "full")}, {"b.txt", "old b"}}, data());
        pack_tree({{"info.txt", info_txt("1.2", "full")}, {"b.txt", "new b"}}, patch());
    }
    std::string lock_file() const { return join(install(), "Tessavane.lock"); }
    std::string b() const { return archive_entry(data(), "/b.txt"); }
};

// After the dialog decided, the patch's folder is exchanged for one with a
// patch older than the data: the update decides again from what it reads
// and applies nothing. Where the held patch keeps the exchange from
// happening, the held patch is applied.
TEST_F(UpdateLockTest, PatchFolderExchangedAfterTheDecision) {
    const std::string older = join(root(), "older"), updater = join(root(), "updater");
    make_folder(older);
    pack_tree({{"info.txt", info_txt("1.05", "full")}}, join(older, "Patch.dat"));
    RecordingView v = view();
    refresh_versions(&v);
    ASSERT_EQ(v.status(), TEXT_UPDATE_POSSIBLE);
    const bool exchanged = platform_file_move(updater.c_str(), join(root(), "away").c_str()) &&
                           platform_file_move(older.c_str(), updater.c_str());
    EXPECT_EQ(run_update(&v, quiet_steps()), !exchanged);
    EXPECT_EQ(b(), exchanged ? "old b" : "new b");
    EXPECT_EQ(v.text(CONTROL_PATCH_VERSION), exchanged ? "Ver.1.05 (full)" : "Ver.1.2 (full)");
#ifndef _WIN32
    EXPECT_TRUE(exchanged);
#endif
}

RecordingView second;
bool lock_removed = false, second_completed = true;
Clock::duration second_took;

// Inside a running update: the lock's file (where there is one) is deleted,
// then a second update is started.
void remove_lock_and_run_again(const char*) {
    lock_removed = platform_file_delete(join(second.folder, "Tessavane.lock").c_str());
    auto begin = Clock::now();
    second_completed = run_update(&second, default_update_steps());
    second_took = Clock::now() - begin;
}

TEST_F(UpdateLockTest, RemovingTheLockLetsNoSecondRunIn) {
    second = view();
    UpdateSteps steps = quiet_steps();
    steps.patch_opened = remove_lock_and_run_again;
    RecordingView v = view();
    refresh_versions(&v);
    EXPECT_TRUE(run_update(&v, steps));
    EXPECT_EQ(b(), "new b");
    EXPECT_FALSE(lock_removed); // Windows refuses; POSIX has no lock file
    EXPECT_FALSE(second_completed);
    EXPECT_EQ(second.status(), TEXT_OVERWRITE_FAILED);
    EXPECT_NE(second.details.back().find("another update is running"), std::string::npos);
    EXPECT_GE(second_took, std::chrono::milliseconds(UPDATE_LOCK_WAIT_MS - 50));
    EXPECT_FALSE(path_exists(lock_file()));
}

PlatformFile refuse_lock(const char*, const char*, uint32_t, bool* busy) {
    *busy = false;
    return PLATFORM_INVALID_FILE;
}

// A lock that cannot be made at all gives, at once, the words of an
// intermediate archive that cannot be made.
TEST_F(UpdateLockTest, TheLocksWords) {
    enum Setting { UNMADE, FOLDER_NAMED_LOCK, READ_ONLY_FOLDER };
    const struct {
        Setting setting;
        const char* status; // null: the update completes
    } rows[] = {
        {UNMADE, TEXT_INTERMEDIATE_FAILED},
#ifdef _WIN32
        {FOLDER_NAMED_LOCK, TEXT_INTERMEDIATE_FAILED},
#else
        {FOLDER_NAMED_LOCK, nullptr}, // the lock is the folder itself
        {READ_ONLY_FOLDER, TEXT_INTERMEDIATE_FAILED},
#endif
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.setting);
#ifndef _WIN32
        if (row.setting == READ_ONLY_FOLDER && geteuid() == 0) {
            continue; // root writes a folder whatever its mode
        }
        chmod(install().c_str(), row.setting == READ_ONLY_FOLDER ? 0555 : 0755);
#endif
        if (row.setting == FOLDER_NAMED_LOCK) {
            make_folder(lock_file());
        }
        const std::string before = read_file(data());
        UpdateSteps steps = quiet_steps();
        if (row.setting == UNMADE) {
            steps.lock_folder = refuse_lock;
        }
        RecordingView v = view();
        refresh_versions(&v);
        auto begin = Clock::now();
        EXPECT_EQ(run_update(&v, steps), row.status == nullptr);
        EXPECT_LT(Clock::now() - begin, std::chrono::milliseconds(UPDATE_LOCK_WAIT_MS / 2));
#ifndef _WIN32
        chmod(install().c_str(), 0755);
#endif
        platform_remove_dir(lock_file().c_str());
        EXPECT_EQ(v.status(), row.status ? row.status : TEXT_UPDATE_COMPLETE);
        write_file(data(), before);
    }
}

} // namespace
