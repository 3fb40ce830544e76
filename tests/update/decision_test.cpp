// What refresh_versions shows and decides for each pair of archives.
#include <filesystem>
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "update/update_logic.h"
#include "update/update_texts.h"
#include "update/updater_test_support.h"

namespace {

struct Decision {
    std::string status;
    std::string label;
    bool enabled;
    int mode;
};

class DecisionTest : public ::testing::Test, public UpdateFixture {
  protected:
    // Packs the two archives (an empty text leaves that archive out) and
    // refreshes a fresh view.
    Decision decide(const std::string& installed_info, const std::string& patch_info) {
        if (!installed_info.empty()) {
            pack_tree({{"info.txt", installed_info}}, data());
        }
        if (!patch_info.empty()) {
            pack_tree({{"info.txt", patch_info}}, patch());
        }
        shown = view();
        refresh_versions(&shown);
        return {shown.status(), shown.text(CONTROL_ACTION), shown.enabled, ActionMode};
    }
    RecordingView shown;
};

TEST_F(DecisionTest, EachRowOfTheTable) {
    Decision d = decide("", info_txt("1.0", "full"));
    EXPECT_EQ(d.status, TEXT_SPECIFY_INSTALL_FOLDER);
    EXPECT_EQ(d.label, TEXT_START_UPDATE);
    EXPECT_FALSE(d.enabled);
    EXPECT_EQ(d.mode, ACTION_MODE_UPDATE);
    EXPECT_EQ(shown.text(CONTROL_INSTALLED_VERSION), TEXT_NOT_FOUND);
    EXPECT_EQ(shown.text(CONTROL_PATCH_VERSION), "Ver.1.0 (full)");

    release_held_patch(); // else Windows refuses the removal
    std::filesystem::remove(patch());
    d = decide(info_txt("1.0", "full"), "");
    EXPECT_EQ(d.status, TEXT_PATCH_NOT_FOUND);
    EXPECT_EQ(d.label, TEXT_START_UPDATE);
    EXPECT_FALSE(d.enabled);
    EXPECT_EQ(shown.text(CONTROL_INSTALLED_VERSION), "Ver.1.0 (full)");
    EXPECT_EQ(shown.text(CONTROL_PATCH_VERSION), TEXT_NOT_FOUND);

    // Not older: launch, even with another attribute.
    d = decide(info_txt("1.1", "full"), info_txt("1.1", "trial"));
    EXPECT_EQ(d.status, TEXT_NO_UPDATE_NEEDED);
    EXPECT_EQ(d.label, TEXT_START_GAME);
    EXPECT_TRUE(d.enabled);
    EXPECT_EQ(d.mode, ACTION_MODE_LAUNCH);

    d = decide(info_txt("1.0", "trial"), info_txt("1.1", "full"));
    EXPECT_EQ(d.status, TEXT_KIND_DIFFERS);
    EXPECT_EQ(d.label, TEXT_START_UPDATE);
    EXPECT_FALSE(d.enabled);
    EXPECT_EQ(d.mode, ACTION_MODE_UPDATE); // back from launch

    d = decide(info_txt("1.0", "full"), info_txt("1.1", "full"));
    EXPECT_EQ(d.status, TEXT_UPDATE_POSSIBLE);
    EXPECT_EQ(d.label, TEXT_START_UPDATE);
    EXPECT_TRUE(d.enabled);
    EXPECT_EQ(d.mode, ACTION_MODE_UPDATE);
}

TEST_F(DecisionTest, BothMissingReportsThePatch) {
    Decision d = decide("", "");
    EXPECT_EQ(shown.text(CONTROL_INSTALLED_VERSION), TEXT_NOT_FOUND);
    EXPECT_EQ(shown.text(CONTROL_PATCH_VERSION), TEXT_NOT_FOUND);
    EXPECT_EQ(d.status, TEXT_PATCH_NOT_FOUND);
    EXPECT_EQ(shown.statuses.size(), 2u); // the install folder's text came first
    EXPECT_EQ(d.label, TEXT_START_UPDATE);
    EXPECT_FALSE(d.enabled);
}

TEST_F(DecisionTest, VersionsCompareAsDecimalNumbers) {
    // 1.9 is not older than 1.10 (= 1.1).
    EXPECT_EQ(decide(info_txt("1.9", "full"), info_txt("1.10", "full")).mode, ACTION_MODE_LAUNCH);
    // 1.2.3 reads as 1.2, and a second "=" ends the value.
    EXPECT_EQ(decide(info_txt("1.2.3", "full"), info_txt("1.25", "full")).status,
              TEXT_UPDATE_POSSIBLE);
    EXPECT_EQ(decide(info_txt("1.1", "full"), "version=1.2=beta\r\nattribute=full\r\n").status,
              TEXT_UPDATE_POSSIBLE);
    EXPECT_EQ(shown.text(CONTROL_PATCH_VERSION), "Ver.1.2 (full)");
    // No number reads as 0, which is older than any patch.
    EXPECT_EQ(decide(info_txt("unknown", "full"), info_txt("0.5", "full")).status,
              TEXT_UPDATE_POSSIBLE);
}

TEST_F(DecisionTest, AttributesCompareByteForByte) {
    EXPECT_EQ(decide(info_txt("1.0", "full"), info_txt("1.1", "Full")).status, TEXT_KIND_DIFFERS);
    EXPECT_EQ(decide(info_txt("1.0", "full "), info_txt("1.1", "full")).status, TEXT_KIND_DIFFERS);
    EXPECT_FALSE(shown.enabled);
}

TEST_F(DecisionTest, ArchivesWithoutVersionsAndBrokenArchives) {
    // No info.txt: empty fields, shown and compared as they are.
    pack_tree({{"a.txt", "x"}}, data());
    Decision d = decide("", info_txt("1.0", ""));
    EXPECT_EQ(shown.text(CONTROL_INSTALLED_VERSION), "Ver. ()");
    EXPECT_EQ(d.status, TEXT_UPDATE_POSSIBLE);

    // LF-only lines are one line: the identifer swallows the rest, so the
    // patch has version 0 and the installed data are not older.
    d = decide("", "identifer=T\nversion=2.0\nattribute=full\n");
    EXPECT_EQ(shown.text(CONTROL_PATCH_VERSION), "Ver. ()");
    EXPECT_EQ(d.mode, ACTION_MODE_LAUNCH);

    write_file(data(), "not an archive at all, but long enough to be read");
    d = decide("", info_txt("1.0", "full"));
    EXPECT_EQ(shown.text(CONTROL_INSTALLED_VERSION), TEXT_NOT_FOUND);
    EXPECT_EQ(d.status, TEXT_SPECIFY_INSTALL_FOLDER);
}

TEST_F(DecisionTest, InstallFolderFieldForms) {
    pack_tree({{"info.txt", info_txt("1.0", "full")}}, data());
    pack_tree({{"info.txt", info_txt("1.1", "full")}}, patch());

    // An empty field means the current directory.
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(install());
    shown = view();
    shown.folder = "";
    refresh_versions(&shown);
    std::filesystem::current_path(previous);
    EXPECT_EQ(shown.text(CONTROL_INSTALLED_VERSION), "Ver.1.0 (full)");
    EXPECT_EQ(shown.status(), TEXT_UPDATE_POSSIBLE);

    // A trailing separator and "." components name the same folder.
    shown = view();
    shown.folder = install() + platform_separator() + "." + platform_separator();
    refresh_versions(&shown);
    EXPECT_EQ(shown.text(CONTROL_INSTALLED_VERSION), "Ver.1.0 (full)");

    // A field longer than 259 bytes is not cut to another folder's name.
    shown = view();
    shown.folder = install() + std::string(300, 'x');
    refresh_versions(&shown);
    EXPECT_EQ(shown.text(CONTROL_INSTALLED_VERSION), TEXT_NOT_FOUND);
    EXPECT_EQ(shown.text(CONTROL_PATCH_VERSION), "Ver.1.1 (full)");
    EXPECT_EQ(shown.status(), TEXT_SPECIFY_INSTALL_FOLDER);
    EXPECT_FALSE(shown.enabled);

    // An explicit patch path takes the place of Patch.dat beside the updater.
    std::string other = join(root(), "other.dat");
    pack_tree({{"info.txt", info_txt("3.0", "full")}}, other);
    shown = view();
    shown.patch = other;
    refresh_versions(&shown);
    EXPECT_EQ(shown.text(CONTROL_PATCH_VERSION), "Ver.3.0 (full)");
}

} // namespace
