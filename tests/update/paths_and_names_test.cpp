// Where the update's files lie, which loose-file names are written, and the
// texts' bytes.
#include <gtest/gtest.h>

#include "support/text.h"

#include "cli/cli.h"
#include "platform/platform.h"
#include "update/loose_names.h"
#include "update/update_paths.h"
#include "update/update_texts.h"

namespace {

std::string sep(const std::string& path) {
    std::string out = path;
    for (char& c : out) {
        if (c == '/') {
            c = platform_separator();
        }
    }
    return out;
}

TEST(UpdatePaths, FormedFromTheInstallFolderAndTheModule) {
    UpdatePaths paths;
    ASSERT_TRUE(update_paths_form(sep("/games/tessavane"), sep("/dl/upd/updater.exe"), "", &paths));
    EXPECT_STREQ(paths.patch, sep("/dl/upd/Patch.dat").c_str());
    EXPECT_STREQ(paths.data, sep("/games/tessavane/Tessavane.dat").c_str());
    EXPECT_STREQ(paths.extraction_folder, sep("/games/tessavane/").c_str());
    EXPECT_STREQ(paths.intermediate, sep("/games/tessavane/Tessavane.tmp").c_str());
    EXPECT_STREQ(paths.game, sep("/games/tessavane/Tessavane.exe").c_str());
    EXPECT_EQ(updater_folder(sep("/dl/upd/updater.exe")), sep("/dl/upd/"));

    // A trailing separator and ".." are resolved by the join.
    ASSERT_TRUE(update_paths_form(sep("/games/x/../tessavane/"), sep("/u/e"), "", &paths));
    EXPECT_STREQ(paths.extraction_folder, sep("/games/tessavane/").c_str());

    // An empty field: every path relative to the current directory.
    ASSERT_TRUE(update_paths_form("", "updater.exe", "", &paths));
    EXPECT_STREQ(paths.data, "Tessavane.dat");
    EXPECT_STREQ(paths.extraction_folder, "");
    EXPECT_STREQ(paths.intermediate, "Tessavane.tmp");
    EXPECT_STREQ(paths.patch, "Patch.dat");

    // An explicit patch is taken as it is.
    ASSERT_TRUE(update_paths_form("", "updater.exe", "p/My.dat", &paths));
    EXPECT_STREQ(paths.patch, "p/My.dat");

    EXPECT_FALSE(update_paths_form(std::string(259, 'a'), "u.exe", "", &paths));
    EXPECT_FALSE(update_paths_form(std::string(260, 'a'), "u.exe", "", &paths));
    EXPECT_TRUE(update_paths_form(std::string(200, 'a'), "u.exe", "", &paths));
}

TEST(LooseNames, NamesThatStayInTheInstallFolder) {
    std::string why;
    EXPECT_TRUE(loose_name_allowed("readme.txt", why));
    EXPECT_TRUE(loose_name_allowed("config.ini", why));
    // 表 ends in 0x5C, which is not a backslash inside the character.
    EXPECT_TRUE(loose_name_allowed("\x95\x5C.txt", why)) << why;
    EXPECT_TRUE(loose_name_allowed("Tessavane.exe.bak", why));

    for (const char* bad : {"",
                            ".",
                            "..",
                            "a:b",
                            "C:",
                            "a\\b",
                            "CON",
                            "con.txt",
                            "nul",
                            "COM1",
                            "lpt9.log",
                            "AUX.dat",
                            "name.",
                            "name ",
                            "a*b",
                            "a?b",
                            "a\tb",
                            "cut\x95",
                            "d\x81/evil.txt",
                            "d/evil.txt",
                            "\x81\x7Fx",
                            "\x81:x"}) {
        EXPECT_FALSE(loose_name_allowed(bad, why)) << bad;
    }
    // A lead byte before a "/" is no double-byte character: the "/" divides
    // the name, so the last component is what lands in the install folder.
    EXPECT_STREQ(path_file_name("/_extract/d\x81/evil.txt"), "evil.txt");
    EXPECT_STREQ(path_file_name("/_extract/\x83\x5C"), "\x83\x5C");
    // The updater's own files, in any letter case or by short name.
    for (const char* own : {"Tessavane.dat", "TESSAVANE.TMP", "tessavane.part", "Tessavane.lock",
                            "TESSAV~1.DAT", "tessav~2.tmp"}) {
        EXPECT_FALSE(loose_name_allowed(own, why)) << own;
    }
}

TEST(UpdatePaths, TheUpdatersWorkFilesByTheirLastName) {
    const struct {
        const char* path;
        bool own;
    } cases[] = {
        {"Tessavane.tmp", true},       {"C:\\Games\\TESSAVANE.PART", true},
        {"/a/b/tessavane.Lock", true}, {"dir.tmp/Patch.dat", false},
        {"Tessavane.dat", false},      {"Tessavane.tmp.dat", false},
        {"/a/Tessavane.tmp/", false},  {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_updater_file(c.path), c.own) << c.path;
    }
}

#ifndef _WIN32
TEST(UpdateTexts, SpellTheJapaneseInCodePage932) {
    EXPECT_EQ(to_console(TEXT_SPECIFY_INSTALL_FOLDER), "インストール先を指定してください。");
    EXPECT_EQ(to_console(TEXT_PATCH_NOT_FOUND), "パッチデータファイルが見つかりません。");
    EXPECT_EQ(to_console(TEXT_NO_UPDATE_NEEDED), "アップデートする必要がありません。");
    EXPECT_EQ(to_console(TEXT_KIND_DIFFERS), "種類が異なるのでパッチを適用できません。");
    EXPECT_EQ(to_console(TEXT_UPDATE_POSSIBLE), "アップデートできます。");
    EXPECT_EQ(to_console(TEXT_UPDATE_RUNNING), "アップデート中です。");
    EXPECT_EQ(to_console(TEXT_INTERMEDIATE_FAILED), "中間ファイルの読込みに失敗しました。");
    EXPECT_EQ(to_console(TEXT_OVERWRITE_FAILED), "データファイルの上書きに失敗しました。");
    EXPECT_EQ(to_console(TEXT_UPDATE_COMPLETE), "アップデートが完了しました。");
    EXPECT_EQ(to_console(TEXT_START_UPDATE), "アップデート開始");
    EXPECT_EQ(to_console(TEXT_START_GAME), "ゲーム起動");
}
#endif

} // namespace
