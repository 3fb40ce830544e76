// The archive builder's output: the byte layout, the tree it collects from
// its sources, and the keys and compression it chooses.
#include <gtest/gtest.h>

#include "archive/builder_test_support.h"
#include "archive/epk2_format.h"
#include "support/test_archive_writer.h"
#include "support/test_support.h"

namespace {

FsPtr memory_source(const std::vector<MemoryEntry>& entries) {
    return FsPtr(memory_fs_open(entries));
}

std::vector<std::string> names_of(const ReadBack& back) {
    std::vector<std::string> names;
    for (const SeenEntry& entry : back.entries) {
        names.push_back(entry.name);
    }
    return names;
}

} // namespace

TEST(BuilderLayout, TwoEmptySourcesGiveTheSixtyFourByteArchive) {
    TempDir dir;
    FsPtr first = memory_source({});
    FsPtr second = memory_source({});
    PackResult result = pack_sources(dir, first.get(), second.get());
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.bytes.size(), 64u);
    EXPECT_EQ(result.bytes.substr(0, 4), "EPK2");
    EXPECT_EQ(test_get_u32(result.bytes, 4) & 0xFFFF, 32u);
    EXPECT_EQ(test_get_u32(result.bytes, 16), 64u); // table_end
    EXPECT_EQ(test_get_u32(result.bytes, 20), 1u);  // directories
    EXPECT_EQ(test_get_u32(result.bytes, 24), 0u);  // files
    // Root record: name at 24, every link 0; then the empty name and padding.
    EXPECT_EQ(test_table_get_u32(result.bytes, 0), 24u);
    for (uint32_t field = 4; field < 24; field += 4) {
        EXPECT_EQ(test_table_get_u32(result.bytes, field), 0u) << field;
    }
    // All 32 table bytes are scrambled with key 1: the stored bytes are the
    // key itself where the plain bytes are zero.
    const unsigned char* key = epk2_key(1);
    for (uint32_t i = 24; i < 32; ++i) {
        EXPECT_EQ(static_cast<unsigned char>(result.bytes[32 + i]), key[i]) << i;
    }
    EXPECT_NE(result.log.find("Packing Complete.\nDirectories:1, Files:0\n"), std::string::npos);
}

TEST(BuilderLayout, PackedTreeReadsBackEntryForEntry) {
    TempDir dir;
    const std::string big = make_bytes(3 * 1024 * 1024 + 17, 7); // streams past the memory path
    const std::string noise = make_bytes(5000, 3, false);
    FsPtr source = memory_source({{"/info.txt", "version=1.0\r\n"},
                                  {"/data", "", true},
                                  {"/data/big.txt", big},
                                  {"/data/noise.bin", noise},
                                  {"/data/empty.txt", ""},
                                  {"/data/sub", "", true},
                                  {"/data/sub/x", "x"},
                                  {"/emptydir", "", true}});
    PackResult result = pack_sources(dir, source.get(), nullptr);
    ASSERT_TRUE(result.ok) << result.error;
    ReadBack back = read_back(dir.file("out.dat"));
    std::vector<std::string> expected_order = {
        "/data",           "/data/sub",       "/data/sub/x", "/data/big.txt",
        "/data/noise.bin", "/data/empty.txt", "/emptydir",   "/info.txt"};
    EXPECT_EQ(names_of(back), expected_order);
    std::map<std::string, std::string> contents(back.files.begin(), back.files.end());
    EXPECT_EQ(contents["/info.txt"], "version=1.0\r\n");
    EXPECT_EQ(contents["/data/big.txt"], big);
    EXPECT_EQ(contents["/data/noise.bin"], noise);
    EXPECT_EQ(contents["/data/empty.txt"], "");
    EXPECT_EQ(contents["/data/sub/x"], "x");
}

TEST(BuilderLayout, KeysRotateAndBlocksAreAlignedInFileOrder) {
    TempDir dir;
    std::vector<MemoryEntry> entries;
    for (int i = 0; i < 6; ++i) {
        entries.push_back({"/f" + std::to_string(i), make_bytes(100 + 700 * i, i)});
    }
    FsPtr source = memory_source(entries);
    PackResult result = pack_sources(dir, source.get(), nullptr);
    ASSERT_TRUE(result.ok) << result.error;
    std::vector<RecordView> records = file_records(dir.file("out.dat"));
    ASSERT_EQ(records.size(), 6u);
    uint32_t expected_offset = test_get_u32(result.bytes, 16);
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].path, "/f" + std::to_string(i));
        EXPECT_EQ(records[i].key, i % 4 + 1);
        EXPECT_EQ(records[i].data_offset, expected_offset);
        EXPECT_EQ(records[i].data_offset % 32, 0u);
        expected_offset = epk2_align(records[i].data_offset + records[i].stored_size);
    }
    EXPECT_EQ(result.bytes.size(), expected_offset);
}

TEST(BuilderLayout, FirstSourceWinsAndKeepsItsPlaceInTheSiblingOrder) {
    TempDir dir;
    FsPtr patch = memory_source({{"/b.txt", "patch b"}, {"/info.txt", "version=2"}});
    FsPtr base = memory_source({{"/a.txt", "base a"},
                                {"/info.txt", "version=1 and longer"},
                                {"/shared", "", true},
                                {"/shared/base_only", "base only"}});
    PackResult result = pack_sources(dir, patch.get(), base.get());
    ASSERT_TRUE(result.ok) << result.error;
    ReadBack back = read_back(dir.file("out.dat"));
    EXPECT_EQ(names_of(back), (std::vector<std::string>{"/shared", "/shared/base_only", "/b.txt",
                                                        "/info.txt", "/a.txt"}));
    std::map<std::string, std::string> contents(back.files.begin(), back.files.end());
    EXPECT_EQ(contents["/info.txt"], "version=2");
    EXPECT_EQ(contents["/a.txt"], "base a");
    // The winner's size, not the loser's, is recorded.
    for (const SeenEntry& entry : back.entries) {
        if (entry.name == "/info.txt") {
            EXPECT_EQ(entry.size, 9u);
        }
    }
}

TEST(BuilderLayout, DirectoriesMergeAndANameCanBeBothFileAndDirectory) {
    TempDir dir;
    FsPtr first = memory_source({{"/d", "", true}, {"/d/one", "1"}, {"/x", "file x"}});
    FsPtr second =
        memory_source({{"/d", "", true}, {"/d/two", "2"}, {"/x", "", true}, {"/x/inner", "in"}});
    PackResult result = pack_sources(dir, first.get(), second.get());
    ASSERT_TRUE(result.ok) << result.error;
    ReadBack back = read_back(dir.file("out.dat"));
    EXPECT_EQ(names_of(back),
              (std::vector<std::string>{"/d", "/d/one", "/d/two", "/x", "/x/inner", "/x"}));
    std::map<std::string, std::string> contents(back.files.begin(), back.files.end());
    EXPECT_EQ(contents["/x"], "file x");
    EXPECT_EQ(contents["/x/inner"], "in");
}

TEST(BuilderLayout, SvnEntriesAreLeftOut) {
    TempDir dir;
    FsPtr source = memory_source({{"/.svn", "", true},
                                  {"/.svn/entries", "svn"},
                                  {"/a.svnx", "also out"},
                                  {"/keep.txt", "kept"},
                                  {"/sub", "", true},
                                  {"/sub/.svn", "", true},
                                  {"/sub/.svn/text-base", "svn"},
                                  {"/sub/file", "kept too"}});
    PackResult result = pack_sources(dir, source.get(), nullptr);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(names_of(read_back(dir.file("out.dat"))),
              (std::vector<std::string>{"/sub", "/sub/file", "/keep.txt"}));
}

TEST(BuilderLayout, TinyFilesThatDoNotShrinkAreStoredAndReadBack) {
    TempDir dir;
    FsPtr source =
        memory_source({{"/one", "a"}, {"/five", "abcde"}, {"/text", make_bytes(4000, 1)}});
    PackResult result = pack_sources(dir, source.get(), nullptr);
    ASSERT_TRUE(result.ok) << result.error;
    for (const RecordView& record : file_records(dir.file("out.dat"))) {
        if (record.path == "/text") {
            EXPECT_LT(record.stored_size, record.size);
        } else {
            EXPECT_EQ(record.stored_size, record.size) << record.path;
        }
    }
    ReadBack back = read_back(dir.file("out.dat"));
    std::map<std::string, std::string> contents(back.files.begin(), back.files.end());
    EXPECT_EQ(contents["/one"], "a");
    EXPECT_EQ(contents["/five"], "abcde");
}

TEST(BuilderLayout, LogHasTwoLinesPerFileWithoutCallbackAndOnlyTheClosingLinesWithOne) {
    TempDir dir;
    FsPtr source = memory_source({{"/a", "hello"}, {"/b", "world!"}});
    PackResult plain = pack_sources(dir, source.get(), nullptr);
    ASSERT_TRUE(plain.ok);
    uint32_t table_end = test_get_u32(plain.bytes, 16);
    std::string expected =
        "Packing: /a\n-> offset:" + std::to_string(table_end) +
        ", size:5, storage:5\nPacking: /b\n-> offset:" + std::to_string(table_end + 32) +
        ", size:6, storage:6\n\nPacking Complete.\nDirectories:1, Files:2\n";
    EXPECT_EQ(plain.log, expected);

    std::vector<std::pair<uint32_t, uint32_t>> calls;
    auto callback = [](void* context, uint32_t index, uint32_t total) {
        static_cast<std::vector<std::pair<uint32_t, uint32_t>>*>(context)->push_back(
            {index, total});
        return 0;
    };
    PackResult quiet = pack_sources(dir, source.get(), nullptr, {}, callback, &calls);
    ASSERT_TRUE(quiet.ok);
    EXPECT_EQ(quiet.log, "\nPacking Complete.\nDirectories:1, Files:2\n");
    EXPECT_EQ(calls, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 2}, {1, 2}}));
    EXPECT_EQ(quiet.bytes, plain.bytes);
}

TEST(BuilderLayout, CollectedFilesAnswerByIndexAndTheRefusalOutlivesThePack) {
    // A name that is a file in the patch and a folder in the base is both;
    // the base's entries of a folder the patch also holds join that folder.
    FsPtr patch = memory_source({{"/d", "", true}, {"/d/x.txt", "patch x"}, {"/n", "file n"}});
    FsPtr base = memory_source({{"/d", "", true},
                                {"/d/x.txt", "base x"},
                                {"/d/y.txt", "base y"},
                                {"/n", "", true},
                                {"/n/z.txt", "base z"}});
    ArchiveBuilder builder;
    builder.start_tree();
    builder.collect(patch.get());
    builder.collect(base.get());
    EXPECT_EQ(builder.collect_error(), "");
    std::vector<std::string> seen;
    for (uint32_t i = 0; i < builder.file_count(); ++i) {
        const CollectedFile file = builder.collected_file(i);
        seen.push_back(std::string(file.path) +
                       (file.source == patch.get() ? " patch " : " base ") +
                       std::to_string(file.size) + (file.record ? " record" : ""));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"/d/x.txt patch 7", "/n patch 6", "/d/y.txt base 6",
                                              "/n/z.txt base 6"}));

    std::string deep;
    for (int i = 0; i < 64; ++i) {
        deep += "/f";
    }
    FsPtr refused = memory_source({{deep, "too deep"}});
    TempDir dir;
    EXPECT_FALSE(
        builder.pack(dir.file("out.dat").c_str(), refused.get(), nullptr, nullptr, nullptr));
    EXPECT_NE(builder.collect_error().find("more than 63 path components"), std::string::npos);
    EXPECT_EQ(builder.file_count(), 0u) << "the tree is released after the pack";
}
