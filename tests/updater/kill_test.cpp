// "epk2 update" killed at many points of a large update: the data archive
// always holds the old or the new archive, byte for byte, and running the
// update again finishes it.
#ifndef _WIN32

#include <chrono>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli.h"
#include "platform/platform.h"
#include "updater/updater_test_support.h"

namespace {

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

    // Starts "epk2 update" in a child process.
    pid_t start_update() {
        std::fflush(nullptr);
        pid_t child = fork();
        if (child == 0) {
            FILE* sink = std::fopen("/dev/null", "w");
            Console console{sink, sink, false};
            std::string folder = install();
            std::string patch_path = patch();
            char* argv[] = {const_cast<char*>("epk2"), const_cast<char*>("update"), folder.data(),
                            const_cast<char*>("--patch"), patch_path.data()};
            _exit(epk2_main(5, argv, console));
        }
        return child;
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

} // namespace

#endif
