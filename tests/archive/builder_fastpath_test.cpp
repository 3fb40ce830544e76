// The fast paths of the builder: copying stored bytes from a source archive
// instead of inflating and deflating them, and deflating on worker threads.
// Both must give archives that read back exactly like the plain path.
#include <gtest/gtest.h>

#include "archive/archive_fs.h"
#include "archive/builder_test_support.h"
#include "stream/stream.h"
#include "support/test_archive_writer.h"
#include "support/test_support.h"

namespace {

// Sizes around the 1024-byte scrambling limit, empty and stored entries,
// compressible and incompressible content, one file large enough to stream.
MemoryTree varied_tree(uint32_t seed) {
    MemoryTree tree;
    tree.entries = {{"/_config.txt", "[NoCompression]\r\n*.raw\r\n"},
                    {"/a", "", true},
                    {"/a/empty.txt", ""},
                    {"/a/limit-1.txt", make_bytes(1023, seed + 1)},
                    {"/a/limit.txt", make_bytes(1024, seed + 2)},
                    {"/a/limit+1.txt", make_bytes(1025, seed + 3)},
                    {"/a/stored.raw", make_bytes(1024, seed + 4, false)},
                    {"/a/tiny.raw", "xy"},
                    {"/b", "", true},
                    {"/b/noise.bin", make_bytes(70000, seed + 5, false)},
                    {"/b/large.txt", make_bytes(5 * 1024 * 1024 + 3, seed + 6)},
                    {"/b/text.txt", make_bytes(200000, seed + 7)}};
    for (int i = 0; i < 40; ++i) {
        tree.entries.push_back(
            {"/b/small" + std::to_string(i) + ".txt", make_bytes(50 + i * 37, i)});
    }
    return tree;
}

std::string pack_to(const TempDir& dir, const std::string& name, FileSystem* first,
                    FileSystem* second, BuilderOptions options) {
    ArchiveBuilder builder;
    options.log = nullptr;
    builder.options = options;
    const std::string path = dir.file(name);
    EXPECT_TRUE(builder.pack(path.c_str(), first, second, nullptr, nullptr)) << builder.error();
    return path;
}

BuilderOptions with(unsigned threads, bool recompress) {
    BuilderOptions options;
    options.threads = threads;
    options.recompress = recompress;
    return options;
}

} // namespace

TEST(BuilderFastPaths, WorkerThreadsGiveByteIdenticalArchives) {
    TempDir dir;
    FsPtr source(memory_fs_open(varied_tree(1)));
    std::string single =
        read_whole_file(pack_to(dir, "single.dat", source.get(), nullptr, with(1, false)));
    for (unsigned threads : {2u, 3u, 8u}) {
        std::string parallel = read_whole_file(
            pack_to(dir, "parallel.dat", source.get(), nullptr, with(threads, false)));
        EXPECT_EQ(parallel, single) << threads << " threads";
    }
}

TEST(BuilderFastPaths, CopiedEntriesReadBackLikeRecompressedOnes) {
    TempDir dir;
    // The base is packed alone, so its keys differ from the ones the merged
    // archive gives the same files (the patch's files come first).
    FsPtr base_tree(memory_fs_open(varied_tree(2)));
    std::string base_path = pack_to(dir, "base.dat", base_tree.get(), nullptr, with(1, false));
    MemoryTree patch_files;
    patch_files.entries = {{"/_config.txt", "[NoCompression]\r\n*.raw\r\n"},
                           {"/new.txt", make_bytes(3000, 9)},
                           {"/a", "", true},
                           {"/a/limit.txt", make_bytes(1024, 77)}};
    FsPtr patch_tree(memory_fs_open(patch_files));
    std::string patch_path = pack_to(dir, "patch.dat", patch_tree.get(), nullptr, with(1, false));

    FsPtr patch(archive_open(nullptr, patch_path.c_str(), nullptr));
    FsPtr base(archive_open(nullptr, base_path.c_str(), nullptr));
    ASSERT_TRUE(patch && base);
    std::string copied = pack_to(dir, "copied.dat", patch.get(), base.get(), with(1, false));
    std::string recompressed = pack_to(dir, "full.dat", patch.get(), base.get(), with(1, true));
    std::string parallel = pack_to(dir, "parallel.dat", patch.get(), base.get(), with(4, false));

    ReadBack a = read_back(copied);
    ReadBack b = read_back(recompressed);
    ASSERT_FALSE(a.files.empty());
    EXPECT_EQ(a.entries, b.entries);
    EXPECT_EQ(a.files, b.files);
    EXPECT_EQ(read_whole_file(parallel), read_whole_file(copied));

    // Same records: keys follow the output's file order, sizes the content;
    // only the compressed bytes could differ between the two paths.
    std::vector<RecordView> copied_records = file_records(copied);
    std::vector<RecordView> full_records = file_records(recompressed);
    ASSERT_EQ(copied_records.size(), full_records.size());
    int moved_keys = 0;
    std::vector<RecordView> base_records = file_records(base_path);
    for (size_t i = 0; i < copied_records.size(); ++i) {
        EXPECT_EQ(copied_records[i].path, full_records[i].path);
        EXPECT_EQ(copied_records[i].key, i % 4 + 1);
        EXPECT_EQ(copied_records[i].size, full_records[i].size);
        EXPECT_EQ(copied_records[i].stored_size == copied_records[i].size,
                  full_records[i].stored_size == full_records[i].size)
            << copied_records[i].path;
        for (const RecordView& original : base_records) {
            if (original.path == copied_records[i].path && original.key != copied_records[i].key) {
                ++moved_keys;
            }
        }
    }
    EXPECT_GT(moved_keys, 10) << "the test must move entries between keys";
    // Every entry verifies: content intact after re-keying.
    FsPtr merged(archive_open(nullptr, copied.c_str(), nullptr));
    for (const SeenEntry& entry : enumerate_all(merged.get(), "/", 1)) {
        if (entry.attributes & DIRENTRY_DIRECTORY) {
            continue;
        }
        Stream* s = fs_open(merged.get(), entry.name.c_str(), 0, 0, STREAM_OPEN_READ, nullptr);
        ASSERT_NE(s, nullptr) << entry.name;
        std::string content;
        char chunk[8192];
        while (stream_state(s) != STREAM_STATE_END) {
            uint32_t n = stream_read(s, chunk, sizeof chunk);
            if (n == 0) {
                break;
            }
            content.append(chunk, n);
        }
        ArchiveEntryInfo info;
        ASSERT_TRUE(archive_entry_info(merged.get(), entry.name.c_str(), &info));
        if (info.stored_size != info.size) {
            EXPECT_TRUE(entry_stream_intact(s)) << entry.name;
        }
        stream_close(s);
        EXPECT_EQ(content.size(), entry.size) << entry.name;
    }
}

TEST(BuilderFastPaths, AChangedCompressionDecisionIsNotCopied) {
    TempDir dir;
    // The base stores *.raw uncompressed; a patch whose rules compress
    // everything must deflate those entries anew rather than copy them.
    FsPtr base_tree(memory_fs_open(varied_tree(3)));
    std::string base_path = pack_to(dir, "base.dat", base_tree.get(), nullptr, with(1, false));
    MemoryTree patch_files;
    patch_files.entries = {{"/readme.txt", "patch"}};
    FsPtr patch_tree(memory_fs_open(patch_files));
    std::string patch_path = pack_to(dir, "patch.dat", patch_tree.get(), nullptr, with(1, false));
    FsPtr patch(archive_open(nullptr, patch_path.c_str(), nullptr));
    FsPtr base(archive_open(nullptr, base_path.c_str(), nullptr));
    std::string merged = pack_to(dir, "merged.dat", patch.get(), base.get(), with(1, false));
    for (const RecordView& record : file_records(merged)) {
        if (record.path == "/a/stored.raw") {
            EXPECT_NE(record.stored_size, record.size) << "deflated under the patch's rules";
        }
    }
    EXPECT_EQ(read_back(merged).files.size(), read_back(base_path).files.size() + 1);
}

TEST(BuilderFastPaths, ADamagedSourceEntryIsNotCopiedIntoTheNewArchive) {
    for (const char* victim : {"/b/text.txt", "/b/large.txt"}) { // prepared, streamed
        for (unsigned threads : {1u, 4u}) {
            TempDir dir;
            FsPtr base_tree(memory_fs_open(varied_tree(4)));
            std::string base_path =
                pack_to(dir, "base.dat", base_tree.get(), nullptr, with(1, false));
            RecordView damaged{};
            for (const RecordView& record : file_records(base_path)) {
                if (record.path == victim) {
                    damaged = record;
                }
            }
            ASSERT_NE(damaged.stored_size, damaged.size) << victim << " must be compressed";
            std::string bytes = read_whole_file(base_path);
            bytes[damaged.data_offset + damaged.stored_size / 2] ^= 0x40;
            write_whole_file(base_path, bytes);

            MemoryTree patch_files;
            patch_files.entries = {{"/new.txt", "new"}};
            FsPtr patch(memory_fs_open(patch_files));
            FsPtr base(archive_open(nullptr, base_path.c_str(), nullptr));
            ArchiveBuilder builder;
            builder.options.log = nullptr;
            builder.options.threads = threads;
            const std::string out = dir.file("merged.dat");
            EXPECT_FALSE(builder.pack(out.c_str(), patch.get(), base.get(), nullptr, nullptr))
                << victim << " with " << threads << " threads";
            EXPECT_NE(builder.error().find(victim), std::string::npos) << builder.error();
            EXPECT_FALSE(file_exists(out));
        }
    }
}

TEST(BuilderFastPaths, SecondSourceCopiesCanBeCarriedOverUncheckedButFirstSourceOnesNever) {
    TempDir dir;
    FsPtr tree(memory_fs_open(varied_tree(5)));
    std::string damaged_path = pack_to(dir, "damaged.dat", tree.get(), nullptr, with(1, false));
    RecordView victim{};
    for (const RecordView& record : file_records(damaged_path)) {
        if (record.path == "/b/text.txt") {
            victim = record;
        }
    }
    ASSERT_NE(victim.stored_size, victim.size);
    std::string bytes = read_whole_file(damaged_path);
    bytes[victim.data_offset + victim.stored_size / 2] ^= 0x40;
    write_whole_file(damaged_path, bytes);

    MemoryTree patch_files;
    patch_files.entries = {{"/_config.txt", "[NoCompression]\r\n*.raw\r\n"}, {"/new.txt", "new"}};
    FsPtr patch(memory_fs_open(patch_files));
    FsPtr damaged(archive_open(nullptr, damaged_path.c_str(), nullptr));
    BuilderOptions unchecked = with(4, false);
    unchecked.check_second_source_copies = false;
    std::string merged = pack_to(dir, "merged.dat", patch.get(), damaged.get(), unchecked);
    // The damaged entry is carried over byte for byte (apart from its key),
    // so it is exactly as damaged as before and no worse.
    RecordView copied{};
    for (const RecordView& record : file_records(merged)) {
        if (record.path == victim.path) {
            copied = record;
        }
    }
    ASSERT_EQ(copied.stored_size, victim.stored_size);
    std::string merged_bytes = read_whole_file(merged);
    EXPECT_EQ(merged_bytes.substr(copied.data_offset + 1024, copied.stored_size - 1024),
              bytes.substr(victim.data_offset + 1024, victim.stored_size - 1024));

    // As the first source, the same archive fails the merge.
    ArchiveBuilder builder;
    builder.options = unchecked;
    builder.options.log = nullptr;
    std::string out = dir.file("refused.dat");
    EXPECT_FALSE(builder.pack(out.c_str(), damaged.get(), patch.get(), nullptr, nullptr));
    EXPECT_NE(builder.error().find(victim.path), std::string::npos) << builder.error();
}

TEST(BuilderFastPaths, AnEmptyEntryStoredAsAZlibStreamIsRecompressed) {
    // Another writer may store an empty file as a (tiny) zlib stream; its
    // end is only confirmed by asking for more, which must still happen.
    // The copy holds what a builder writes: nothing for an empty file, and
    // a zlib stream without the bytes some writer left after its end.
    TestArchive a;
    a.files.push_back({"/empty.txt", "", 2, true});
    a.files.push_back({"/text.txt", make_bytes(500, 1), 3, true});
    a.files.push_back({"/tail.txt", make_bytes(3000, 4), 1, true, 0, "trailing bytes"});
    TestArchive clean = a;
    clean.files[2].trailing.clear();
    TempDir dir;
    std::string source_path = save_archive(dir, build_test_archive(a), "source.dat");
    std::string clean_path = save_archive(dir, build_test_archive(clean), "clean.dat");
    FsPtr source(archive_open(nullptr, source_path.c_str(), nullptr));
    ASSERT_TRUE(source);
    const uint32_t zlib_length = file_records(clean_path)[2].stored_size;
    for (bool recompress : {false, true}) {
        std::string out = pack_to(dir, "out.dat", source.get(), nullptr, with(1, recompress));
        ReadBack back = read_back(out);
        ASSERT_EQ(back.files.size(), 3u) << recompress;
        EXPECT_EQ(back.files[0].second, "");
        EXPECT_EQ(back.files[1].second, make_bytes(500, 1));
        EXPECT_EQ(back.files[2].second, make_bytes(3000, 4));
        std::vector<RecordView> records = file_records(out);
        ASSERT_EQ(records.size(), 3u);
        for (const RecordView& record : records) {
            if (record.path == "/empty.txt") {
                EXPECT_EQ(record.stored_size, 0u) << recompress;
            } else if (record.path == "/tail.txt") {
                EXPECT_EQ(record.stored_size, zlib_length) << recompress;
            }
        }
    }
}
