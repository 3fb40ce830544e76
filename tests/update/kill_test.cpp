// "epk2 update" killed at many points of a large update: the data archive
// always holds the old or the new archive, byte for byte, and running the
// update again finishes it.
#ifndef _WIN32

#include <chrono>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "epk2.h"
#include "platform/platform.h"
#include "update/updater_test_support.h"

namespace {

std::vector<std::string> list_folder(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            names.push_back(entry->d_name);
        }
        closedir(dir);
    }
    return names;
}

class KillTest : public ::testing::Test, public UpdateFixture {
  protected:
    void SetUp() override {
        Tree installed = {{"info.txt", info_txt("1.0", "full")}};
        Tree patch_tree_ = {{"info.txt", info_txt("1.1", "full")}};
        for (int i = 0; i < 300; ++i) {
            std::string name = "data/" + std::to_string(i / 50) + "/f" + std::to_string(i);
            installed.push_back({name, make_bytes(10000, i, i % 2 == 0)});
            if (i % 3 == 0) {
                patch_tree_.push_back({name, make_bytes(12000, i + 1000, i % 2 == 0)});
            }
        }
        for (int i = 0; i < 6; ++i) {
            std::string name = "_extract/loose" + std::to_string(i) + ".bin";
            installed.push_back({name, make_bytes(100000, i + 50)});
            patch_tree_.push_back({name, make_bytes(200000, i + 60)});
        }
        pack_tree(installed, data());
        pack_tree(patch_tree_, patch());
        old_bytes = read_file(data());
    }

    // Starts "epk2 WORDS..." in a child process that, like the tool's
    // main, removes its work files when a signal ends it.
    pid_t start_command(std::vector<std::string> words) {
        std::fflush(nullptr);
        pid_t child = fork();
        if (child == 0) {
            platform_interrupt_cleanup_install();
            // What the run said, kept for the failure message of a test.
            std::string log = join(root(), "run-" + std::to_string(getpid()) + ".log");
            FILE* sink = std::fopen(log.c_str(), "w");
            Console console{sink, sink, false};
            std::vector<char*> argv = {const_cast<char*>("epk2")};
            for (std::string& word : words) {
                argv.push_back(word.data());
            }
            _exit(epk2_main(static_cast<int>(argv.size()), argv.data(), console));
        }
        return child;
    }
    pid_t start_update() { return start_command({"update", install(), "--patch", patch()}); }
    // What child said; its log is removed.
    std::string said(pid_t child) {
        std::string log = join(root(), "run-" + std::to_string(child) + ".log");
        std::string text = read_file(log);
        platform_file_delete(log.c_str());
        return text;
    }
    // 0 for a run that exited 0, its exit status, or 128 + the signal.
    static int outcome(int status) {
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    bool verifies(const std::string& archive) {
        return outcome(wait_for(start_command({"verify", archive}))) == 0;
    }
    // Names in the install folder that an update writes and must not leave.
    std::vector<std::string> leftovers() {
        std::vector<std::string> found;
        for (const char* name : {"Tessavane.tmp", "Tessavane.part", "Tessavane.lock"}) {
            if (path_exists(join(install(), name)) ||
                platform_path_is_link(join(install(), name).c_str())) {
                found.push_back(name);
            }
        }
        return found;
    }
    int wait_for(pid_t child) {
        int status = 0;
        waitpid(child, &status, 0);
        return status;
    }
    void restore_old() {
        write_file(data(), old_bytes);
        for (int i = 0; i < 6; ++i) {
            platform_file_delete(join(install(), "loose" + std::to_string(i) + ".bin").c_str());
        }
    }

    std::string old_bytes;
};

TEST_F(KillTest, DataArchiveIsAlwaysOldOrNew) {
    // One undisturbed run gives the new archive and the time an update takes.
    auto begin = std::chrono::steady_clock::now();
    int status = wait_for(start_update());
    auto took = std::chrono::steady_clock::now() - begin;
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::string new_bytes = read_file(data());
    ASSERT_NE(new_bytes, old_bytes);
    ASSERT_EQ(archive_version(data()).version, std::string("1.1"));
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(took).count();

    const int points = 40;
    int old_seen = 0;
    int new_seen = 0;
    for (int i = 0; i < points; ++i) {
        SCOPED_TRACE("kill point " + std::to_string(i));
        restore_old();
        // Spread over the whole update and a little beyond its usual end.
        pid_t child = start_update();
        usleep(static_cast<useconds_t>(micros * 1.2 * i / points));
        kill(child, SIGKILL);
        wait_for(child);

        std::string now = read_file(data());
        if (now == old_bytes) {
            ++old_seen;
        } else {
            ASSERT_EQ(now, new_bytes) << "the data archive is neither old nor new";
            ++new_seen;
        }
        if (i % 4 == 0) {
            // Run again to the end: it completes from whatever was left.
            status = wait_for(start_update());
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            EXPECT_EQ(read_file(data()), new_bytes);
            EXPECT_EQ(read_file(join(install(), "loose5.bin")), make_bytes(200000, 65));
        }
    }
    EXPECT_GT(old_seen, 0);
    std::printf("kill points: %d old, %d new (an update takes %lld us)\n", old_seen, new_seen,
                static_cast<long long>(micros));
}

TEST_F(KillTest, TwoUpdatesAtOnceAndPlantedLinks) {
    const std::string new_bytes = [&] {
        EXPECT_EQ(outcome(wait_for(start_update())), 0);
        return read_file(data());
    }();
    const std::string victim = join(root(), "victim.txt");
    write_file(victim, "someone else's file");

    // Each round: two updates started together, and in most rounds a link
    // planted under one of the names the update writes, pointing outside the
    // install folder (a hard link to the same file in every fourth).
    const std::vector<std::string> planted = {"", "Tessavane.tmp", "Tessavane.part",
                                              "Tessavane.lock"};
    int both_succeeded = 0;
    for (int round = 0; round < 20 * int(planted.size()); ++round) {
        const std::string& name = planted[round % planted.size()];
        SCOPED_TRACE("round " + std::to_string(round) + " planted '" + name + "'");
        restore_old();
        if (!name.empty()) {
            std::string at = join(install(), name);
            int made = (round / 4) % 4 == 3 ? link(victim.c_str(), at.c_str())
                                            : symlink(victim.c_str(), at.c_str());
            ASSERT_EQ(made, 0);
        }
        pid_t first = start_update();
        pid_t second = start_update();
        int results[] = {outcome(wait_for(first)), outcome(wait_for(second))};
        const std::string first_said = said(first), second_said = said(second);

        EXPECT_EQ(read_file(victim), "someone else's file");
        std::string now = read_file(data());
        ASSERT_TRUE(now == old_bytes || now == new_bytes)
            << "the data archive is neither old nor new";
        for (int result : results) {
            if (result == 0) {
                EXPECT_EQ(now, new_bytes) << "a run succeeded but the data are old";
            }
        }
        EXPECT_TRUE(results[0] == 0 || results[1] == 0) << results[0] << ": " << first_said << "\n"
                                                        << results[1] << ": " << second_said;
        both_succeeded += results[0] == 0 && results[1] == 0;
        if (round % 8 == 0) {
            EXPECT_TRUE(verifies(data()));
        }
        if (name == "Tessavane.lock") { // never opened: the lock is the folder itself
            EXPECT_TRUE(platform_path_clear(join(install(), name).c_str()));
        }
        // The planted hard link is a name of the victim: removing it is fine,
        // anything else under the work names is not.
        EXPECT_EQ(leftovers(), std::vector<std::string>{});
    }
    std::printf("two updates at once: both succeeded in %d of %d rounds\n", both_succeeded,
                20 * int(planted.size()));
}

TEST_F(KillTest, InterruptionsRemoveTheWorkFiles) {
    auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(outcome(wait_for(start_update())), 0);
    const std::string new_bytes = read_file(data());
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - begin)
                            .count();

    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE("interruption " + std::to_string(i));
        restore_old();
        const int signal_number = i % 2 == 0 ? SIGTERM : SIGINT;
        pid_t child = start_update();
        usleep(static_cast<useconds_t>(micros * i / 20));
        kill(child, signal_number);
        int result = outcome(wait_for(child));
        // Ended by the signal (or done before it came).
        EXPECT_TRUE(result == 0 || result == 128 + signal_number) << result;
        std::string now = read_file(data());
        ASSERT_TRUE(now == old_bytes || now == new_bytes);
        EXPECT_EQ(leftovers(), std::vector<std::string>{});
    }

    // An interrupted merge leaves nothing beside its output either.
    const std::string output = join(root(), "merged.dat");
    for (int i = 0; i < 10; ++i) {
        pid_t child = start_command({"merge", patch(), data(), "-o", output});
        usleep(static_cast<useconds_t>(micros * i / 10));
        kill(child, SIGINT);
        wait_for(child);
        for (const auto& name : list_folder(root())) {
            EXPECT_EQ(name.find(".partial-"), std::string::npos) << name;
        }
    }
}

} // namespace

#endif
