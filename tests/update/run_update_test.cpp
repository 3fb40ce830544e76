// Complete updates: the merged data, the loose files, progress and the
// texts shown on the way.
#include <gtest/gtest.h>

#include "archive/archive_fs.h"
#include "update/update_logic.h"
#include "update/update_texts.h"
#include "update/updater_test_support.h"

namespace {

// 日本語.txt and 表.txt (whose second byte is 0x5C) in code page 932.
const std::string JAPANESE_NAME = "\x93\xFA\x96\x7B\x8C\xEA.txt";
const std::string BACKSLASH_TRAIL_NAME = "\x95\x5C.txt";

class UpdateTest : public ::testing::Test, public UpdateFixture {
  protected:
    void SetUp() override {
        pack_tree({{"info.txt", info_txt("1.0", "full")},
                   {"data/a.txt", "old a"},
                   {"data/keep.txt", "kept from the installed data"},
                   {"bgm/title.ogg", "old music"},
                   {"_extract/readme.txt", "old readme"}},
                  data());
        write_file(join(install(), "readme.txt"), "old readme");
    }
    RecordingView run(bool expect_possible = true) {
        RecordingView v = view();
        refresh_versions(&v);
        EXPECT_EQ(v.status(), expect_possible ? TEXT_UPDATE_POSSIBLE : v.status());
        v.statuses.clear();
        completed = run_update(&v, quiet_steps());
        return v;
    }
    bool completed = false;
};

TEST_F(UpdateTest, MergesExtractsAndReplaces) {
    const std::string big = make_bytes(1500000, 7, false); // streamed, not held whole
    pack_tree({{"info.txt", info_txt("1.1", "full")},
               {"_config.txt", "[NoCompression]\r\n*.ogg\r\n"},
               {"data/a.txt", "new a"},
               {"data/big.bin", big},
               {"bgm/title.ogg", "new music"},
               {"_extract/readme.txt", "new readme"},
               {"_extract/sub/" + JAPANESE_NAME, "nihongo"},
               {"_extract/" + BACKSLASH_TRAIL_NAME, "omote"}},
              patch());
    RecordingView v = run();
    ASSERT_TRUE(completed) << (v.details.empty() ? "" : v.details.front());

    EXPECT_EQ(v.statuses.front(), TEXT_UPDATE_RUNNING);
    EXPECT_EQ(v.status(), TEXT_UPDATE_COMPLETE);
    EXPECT_EQ(v.text(CONTROL_INSTALLED_VERSION), "Ver.1.1 (full)");
    EXPECT_EQ(v.text(CONTROL_ACTION), TEXT_START_GAME);
    EXPECT_TRUE(v.enabled);
    EXPECT_EQ(ActionMode, ACTION_MODE_LAUNCH);

    // The patch wins; what only the installed data hold stays.
    EXPECT_EQ(archive_entry(data(), "/data/a.txt"), "new a");
    EXPECT_EQ(archive_entry(data(), "/data/keep.txt"), "kept from the installed data");
    EXPECT_EQ(archive_entry(data(), "/data/big.bin"), big);
    FileSystem* fs = archive_open(nullptr, data().c_str(), nullptr);
    ASSERT_NE(fs, nullptr);
    ArchiveEntryInfo ogg{};
    ASSERT_TRUE(archive_entry_info(fs, "/bgm/title.ogg", &ogg));
    EXPECT_EQ(ogg.stored_size, ogg.size); // the patch's packing rule applies
    fs_close(fs);

    // Loose files land flat in the install folder.
    EXPECT_EQ(read_file(join(install(), "readme.txt")), "new readme");
    EXPECT_EQ(read_file(join(install(), JAPANESE_NAME)), "nihongo");
    EXPECT_EQ(read_file(join(install(), BACKSLASH_TRAIL_NAME)), "omote");
    EXPECT_FALSE(path_exists(join(install(), "sub")));
    EXPECT_FALSE(path_exists(intermediate()));
    EXPECT_FALSE(path_exists(join(install(), "Tessavane.part")));

    // One progress call per file of the merged archive, the range set once.
    const size_t files = 9; // the patch's 8 and keep.txt
    ASSERT_EQ(v.progress_calls.size(), files);
    for (size_t i = 0; i < v.progress_calls.size(); ++i) {
        EXPECT_EQ(v.progress_calls[i].first, i);
        EXPECT_EQ(v.progress_calls[i].second, files);
    }
    EXPECT_EQ(v.ranges_set, 1);

    // Afterwards nothing is left to do, and the update itself refuses the
    // same patch again; a newer one sets the range anew.
    RecordingView again = view();
    refresh_versions(&again);
    EXPECT_EQ(again.status(), TEXT_NO_UPDATE_NEEDED);
    EXPECT_FALSE(run_update(&again, quiet_steps()));
    EXPECT_EQ(again.status(), TEXT_NO_UPDATE_NEEDED);
    EXPECT_EQ(again.ranges_set, 0);
    pack_tree({{"info.txt", info_txt("1.2", "full")}}, patch());
    refresh_versions(&again);
    EXPECT_TRUE(run_update(&again, quiet_steps()));
    EXPECT_EQ(again.ranges_set, 1);
}

TEST_F(UpdateTest, LooseFilesOfTheSameNameAndNoneAtAll) {
    // Enumeration reports sub-folders before the folder's own files, so the
    // file directly below /_extract is written last.
    pack_tree({{"info.txt", info_txt("1.1", "full")},
               {"_extract/a/same.txt", "from a"},
               {"_extract/b/same.txt", "from b"},
               {"_extract/b/only_b.txt", "b"},
               {"_extract/same.txt", "from the top"},
               {"_extract/empty.txt", ""}},
              patch());
    run();
    ASSERT_TRUE(completed);
    EXPECT_EQ(read_file(join(install(), "same.txt")), "from the top");
    EXPECT_EQ(read_file(join(install(), "only_b.txt")), "b");
    EXPECT_EQ(read_file(join(install(), "empty.txt")), "");
    EXPECT_FALSE(path_exists(join(install(), "a")));

    // A merged archive without /_extract: nothing is copied, and the update
    // still completes. (The installed data's /_extract survives the merge, so
    // start from data without one.)
    pack_tree({{"info.txt", info_txt("1.0", "full")}}, data());
    pack_tree({{"info.txt", info_txt("1.1", "full")}, {"x.txt", "x"}}, patch());
    write_file(join(install(), "same.txt"), "untouched");
    run();
    EXPECT_TRUE(completed);
    EXPECT_EQ(read_file(join(install(), "same.txt")), "untouched");
    EXPECT_EQ(archive_entry(data(), "/x.txt"), "x");
}

TEST_F(UpdateTest, LeftoversOfAnEarlierRunAreOverwritten) {
    pack_tree({{"info.txt", info_txt("1.1", "full")}, {"_extract/readme.txt", "new"}}, patch());
    write_file(intermediate(), "half an archive from a run that was cut off");
    write_file(join(install(), "Tessavane.part"), "half a loose file");
    RecordingView v = run();
    EXPECT_TRUE(completed);
    EXPECT_EQ(v.status(), TEXT_UPDATE_COMPLETE);
    EXPECT_EQ(archive_version(data()).version, std::string("1.1"));
    EXPECT_FALSE(path_exists(intermediate()));
    EXPECT_FALSE(path_exists(join(install(), "Tessavane.part")));
}

TEST(MergeArchives, ResultAndOutput) {
    UpdateFixture f;
    pack_tree({{"info.txt", info_txt("1.1", "full")}, {"p.txt", "p"}}, f.patch());
    std::string out = join(f.root(), "out.dat");
    std::string error;

    // The installed data may be missing: the patch alone is merged.
    EXPECT_TRUE(merge_archives(out.c_str(), f.patch().c_str(), f.data().c_str(), nullptr, nullptr,
                               nullptr, &error));
    EXPECT_EQ(archive_entry(out, "/p.txt"), "p");

    // Without the patch nothing is written, and any earlier output is gone.
    std::string missing = join(f.root(), "none.dat");
    EXPECT_FALSE(merge_archives(out.c_str(), missing.c_str(), f.data().c_str(), nullptr, nullptr,
                                nullptr, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(path_exists(out));
}

} // namespace
