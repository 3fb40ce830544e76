// "epk2 update": what it prints and the exit status for each outcome.
#include <cstdio>
#include <gtest/gtest.h>

#include "cli/cli.h"
#include "update/update_texts.h"
#include "update/updater_test_support.h"

namespace {

class CommandUpdateTest : public ::testing::Test, public UpdateFixture {
  protected:
    void SetUp() override {
        pack_tree({{"info.txt", info_txt("1.0", "full")}, {"_extract/a.txt", "old"}}, data());
        pack_tree({{"info.txt", info_txt("1.1", "full")}, {"_extract/a.txt", "new"}}, patch());
    }
    // Runs "epk2 update" with the words after the command name.
    int run(std::vector<std::string> words) {
        words.insert(words.begin(), "update");
        return run_epk2(std::move(words), out, err);
    }
    bool printed(const char* cp932) const {
        return out.find(to_console(cp932)) != std::string::npos;
    }
    std::string out, err;
};

TEST_F(CommandUpdateTest, UpdatesOnceThenHasNothingToDo) {
    EXPECT_EQ(run({install(), "--patch", patch(), "--check"}), 0);
    EXPECT_TRUE(printed(TEXT_UPDATE_POSSIBLE)) << out;
    EXPECT_EQ(archive_version(data()).version, std::string("1.0"));

    EXPECT_EQ(run({install(), "--patch", patch()}), 0) << err;
    EXPECT_NE(out.find("installed: Ver.1.0 (full)"), std::string::npos) << out;
    EXPECT_NE(out.find("patch:     Ver.1.1 (full)"), std::string::npos) << out;
    EXPECT_TRUE(printed(TEXT_UPDATE_COMPLETE)) << out;
    EXPECT_NE(out.find("installed: Ver.1.1 (full)"), std::string::npos) << out;
    EXPECT_EQ(read_file(join(install(), "a.txt")), "new");

    EXPECT_EQ(run({install(), "--patch=" + patch()}), 0);
    EXPECT_TRUE(printed(TEXT_NO_UPDATE_NEEDED)) << out;
}

TEST_F(CommandUpdateTest, RefusalsFailuresAndUsage) {
    pack_tree({{"info.txt", info_txt("1.1", "trial")}}, join(root(), "trial.dat"));
    EXPECT_EQ(run({install(), "--patch", join(root(), "trial.dat")}), 1);
    EXPECT_TRUE(printed(TEXT_KIND_DIFFERS)) << out;

    EXPECT_EQ(run({join(root(), "nowhere"), "--patch", patch()}), 1);
    EXPECT_TRUE(printed(TEXT_SPECIFY_INSTALL_FOLDER)) << out;
    EXPECT_EQ(run({install(), "--patch", join(root(), "none.dat")}), 1);
    EXPECT_TRUE(printed(TEXT_PATCH_NOT_FOUND)) << out;

    // A failed update: exit 2, the reason on standard error, data untouched.
    make_folder(intermediate());
    EXPECT_EQ(run({install(), "--patch", patch()}), 2);
    EXPECT_TRUE(printed(TEXT_INTERMEDIATE_FAILED)) << out;
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(archive_version(data()).version, std::string("1.0"));

    EXPECT_EQ(run({}), 2);
    EXPECT_EQ(run({install(), "extra"}), 2);
    EXPECT_EQ(run({install(), "--patch", intermediate()}), 2); // would be overwritten
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_NE(out.find("Usage: epk2 update"), std::string::npos);
}

} // namespace
