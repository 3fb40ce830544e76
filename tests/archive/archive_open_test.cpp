#include <gtest/gtest.h>

#include "support/messages.h"

#include "archive/archive_fs.h"
#include "archive/archive_test_support.h"
#include "archive/epk2_format.h"
#include "stream/stream.h"
#include "support/test_archive_writer.h"
#include "support/test_support.h"

TEST(ArchiveOpen, EmptyArchiveIsSixtyFourBytesAndOpens) {
    std::string bytes = build_test_archive({});
    ASSERT_EQ(bytes.size(), 64u);
    EXPECT_EQ(test_get_u32(bytes, 16), 64u);
    EXPECT_EQ(test_get_u32(bytes, 20), 1u);
    EXPECT_EQ(test_get_u32(bytes, 24), 0u);
    EXPECT_EQ(test_table_get_u32(bytes, 0), 24u); // the root's empty name

    TempDir dir;
    RawMessageCapture messages;
    FsPtr fs(archive_open(nullptr, save_archive(dir, bytes).c_str(), nullptr));
    ASSERT_TRUE(fs);
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_TRUE(archive_is_archive(fs.get()));
    ArchiveHeaderInfo info{};
    ASSERT_TRUE(archive_header_info(fs.get(), &info));
    EXPECT_EQ(info.table_end, 64u);
    EXPECT_EQ(info.dir_count, 1u);
    EXPECT_EQ(info.file_count, 0u);

    int result = -1;
    EXPECT_TRUE(enumerate_all(fs.get(), "/", 1, &result).empty());
    EXPECT_EQ(result, 1);
    // Read-only: no directory operations.
    EXPECT_EQ(fs_make_dir(fs.get(), "/new"), 0);
    EXPECT_EQ(fs_remove_dir(fs.get(), "/new"), 1);

    FsPtr memory(archive_open_memory(bytes.data(), uint32_t(bytes.size()), nullptr));
    ASSERT_TRUE(memory);
    EXPECT_TRUE(archive_is_archive(memory.get()));
    EXPECT_TRUE(enumerate_all(memory.get(), "/", 1, &result).empty());
    EXPECT_EQ(result, 1);
}

TEST(ArchiveOpen, RefusesOtherFilesWithTheirMessageAndLeavesNothingOpen) {
    TempDir dir;
    CountingAllocator allocator;
    RawMessageCapture messages;

    std::string text = "This is a plain text file, long enough to hold a header.\r\n";
    EXPECT_EQ(archive_open(nullptr, save_archive(dir, text, "a.txt").c_str(), &allocator.base),
              nullptr);
    EXPECT_EQ(messages.messages(), std::vector<std::string>{"Error: Not EPK2 format.\n"});
    EXPECT_EQ(error_reason_last(), ERROR_REASON_NOT_ARCHIVE);
    EXPECT_EQ(allocator.live_blocks, 0);
    // The file is not held: it can be replaced at once.
    write_whole_file(dir.file("a.txt"), "x");
    EXPECT_EQ(read_whole_file(dir.file("a.txt")), "x");

    messages.clear();
    std::string bytes = build_test_archive({{}, {{"/info.txt", "version=1\r\n"}}, {}});
    bytes[4] = 33;
    EXPECT_EQ(archive_open(nullptr, save_archive(dir, bytes).c_str(), &allocator.base), nullptr);
    EXPECT_EQ(messages.messages(),
              std::vector<std::string>{"Error: Not support version of EPK2.\n"});
    EXPECT_EQ(error_reason_last(), ERROR_REASON_UNSUPPORTED);
    EXPECT_EQ(allocator.live_blocks, 0);

    // A table that cannot be trusted, a file that is missing: the reason
    // tells them apart whatever the wording.
    std::string cut = build_test_archive({{}, {{"/info.txt", "version=1\r\n"}}, {}});
    test_set_u32(cut, 20, 70000); // more directories than the table holds
    EXPECT_EQ(archive_open(nullptr, save_archive(dir, cut, "cut.dat").c_str(), &allocator.base),
              nullptr);
    EXPECT_EQ(error_reason_last(), ERROR_REASON_DAMAGED);

    messages.clear();
    std::string missing = dir.file("missing.dat");
    EXPECT_EQ(archive_open(nullptr, missing.c_str(), &allocator.base), nullptr);
    EXPECT_EQ(messages.messages(),
              std::vector<std::string>{"Error: Failed to Open \"" + missing + "\".\n"});
    EXPECT_EQ(error_reason_last(), ERROR_REASON_NOT_FOUND);
    EXPECT_EQ(allocator.live_blocks, 0);

    messages.clear();
    EXPECT_EQ(archive_open(nullptr, save_archive(dir, "", "empty.dat").c_str(), &allocator.base),
              nullptr);
    EXPECT_EQ(archive_open_memory(text.data(), uint32_t(text.size()), &allocator.base), nullptr);
    EXPECT_EQ(archive_open_memory(bytes.data(), uint32_t(bytes.size()), &allocator.base), nullptr);
    EXPECT_EQ(messages.messages(), (std::vector<std::string>{
                                       "Error: Not EPK2 format.\n",
                                       "Error: Not EPK2 format.\n",
                                       "Error: Not support version of EPK2.\n",
                                   }));
    EXPECT_EQ(allocator.live_blocks, 0);

    // A path too long to keep for reopening entries is refused before opening.
    messages.clear();
    std::string long_path(FS_PATH_SIZE, 'a');
    EXPECT_EQ(archive_open(nullptr, long_path.c_str(), &allocator.base), nullptr);
    EXPECT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(allocator.live_blocks, 0);
}

TEST(ArchiveOpen, HoldsOneBlockAndEntriesOutliveTheArchive) {
    TempDir dir;
    CountingAllocator allocator;
    TestArchive a;
    a.files = {{"/info.txt", "version=1.20\r\n"}, {"/data/big.bin", make_bytes(5000, 3), 3, true}};
    std::string path = save_archive(dir, build_test_archive(a));

    FileSystem* fs = archive_open(nullptr, path.c_str(), &allocator.base);
    ASSERT_NE(fs, nullptr);
    // The object with its table, and the archive file held open for its
    // entries, so that they read what the table was read from.
    EXPECT_EQ(allocator.live_blocks, 2);
    EXPECT_STREQ(fs->header.root_path, path.c_str());
    EXPECT_EQ(fs->header.parent, nullptr);
    EXPECT_STREQ(fs->header.current_dir, "");

    Stream* info = fs_open(fs, "/info.txt", 0, 0, STREAM_OPEN_READ, &allocator.base);
    Stream* big = fs_open(fs, "/data/big.bin", 0, 0, STREAM_OPEN_READ, &allocator.base);
    ASSERT_NE(info, nullptr);
    ASSERT_NE(big, nullptr);
    fs_close(fs);
    EXPECT_EQ(read_and_close(info), "version=1.20\r\n");
    EXPECT_EQ(read_and_close(big, 333), make_bytes(5000, 3));
    EXPECT_EQ(allocator.live_blocks, 0);
}

TEST(ArchiveOpen, OpensThroughAParentFileSystem) {
    // The archive file is read through the parent, and the parent is kept
    // for reopening entries. A stored archive inside another serves here.
    TempDir dir;
    TestArchive inner;
    inner.files = {{"/x.txt", "inner"}, {"/y.bin", make_bytes(3000, 8), 3, true}};
    const std::string inner_bytes = build_test_archive(inner);
    TestArchive outer;
    outer.files = {{"/pad.txt", "comes first"},
                   {"/inner.dat", inner_bytes, 2, false},
                   {"/packed.dat", inner_bytes, 1, true}};
    std::string path = save_archive(dir, build_test_archive(outer));
    FsPtr parent(archive_open(nullptr, path.c_str(), nullptr));
    ASSERT_TRUE(parent);

    FsPtr nested(archive_open(parent.get(), "/inner.dat", nullptr));
    ASSERT_TRUE(nested);
    EXPECT_EQ(nested->header.parent, parent.get());
    EXPECT_STREQ(nested->header.root_path, "/inner.dat");
    EXPECT_EQ(enumerate_all(nested.get(), "/", 0),
              (std::vector<SeenEntry>{{"/x.txt", 5, 0}, {"/y.bin", 3000, 0}}));
    // Entries are windows of the parent's entry, not of its start.
    Stream* x = fs_open(nested.get(), "/x.txt", 0, 0, STREAM_OPEN_READ, nullptr);
    Stream* y = fs_open(nested.get(), "/y.bin", 0, 0, STREAM_OPEN_READ, nullptr);
    ASSERT_TRUE(x && y);
    EXPECT_EQ(read_and_close(x), "inner");
    EXPECT_EQ(read_and_close(y, 77), make_bytes(3000, 8));

    // Inside a compressed entry only a window from its start can be read:
    // the archive's table reads, entries further in are refused.
    RawMessageCapture messages;
    FsPtr packed(archive_open(parent.get(), "/packed.dat", nullptr));
    ASSERT_TRUE(packed);
    EXPECT_EQ(fs_open(packed.get(), "/x.txt", 0, 0, STREAM_OPEN_READ, nullptr), nullptr);
    EXPECT_TRUE(messages.has(
        "Error: EPK2 entry \"/packed.dat\" is compressed and cannot be "
        "read from " +
        std::to_string(test_table_get_u32(inner_bytes, test_file_field(1, 1, 8))) + ".\n"));
}
