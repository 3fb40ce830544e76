// A pack that cannot complete says so and leaves no file at the output
// path, so that nobody takes a half-written archive for a good one.
#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>

#include "archive/archive_fs.h"
#include "archive/builder_test_support.h"
#include "stream/stream.h"
#include "support/memory.h"
#include "support/test_doubles.h"
#include "support/test_support.h"

namespace {

// A disk stream that accepts only a budget of bytes, then writes short.
Stream* open_failing(const char* path, void* context) {
    Stream* disk = stream_open_file(path, 0, 0, STREAM_OPEN_WRITE, nullptr);
    if (!disk) {
        return nullptr;
    }
    return short_write_stream_open(disk, UINT32_MAX, *static_cast<uint32_t*>(context));
}

MemoryTree sample_tree() {
    MemoryTree tree;
    tree.entries = {{"/info.txt", "version=1"},
                    {"/data", "", true},
                    {"/data/text", make_bytes(40000, 2)},
                    {"/data/big", make_bytes(2 * 1024 * 1024 + 5, 4, false)},
                    {"/z", make_bytes(3000, 9)}};
    return tree;
}

} // namespace

TEST(BuilderFailures, AnOutputThatCannotBeCreatedFailsThePack) {
    TempDir dir;
    FsPtr source(memory_fs_open(sample_tree()));
    ArchiveBuilder builder;
    builder.options.log = nullptr;
    std::string out = dir.file("missing-folder") + "/out.dat";
    EXPECT_FALSE(builder.pack(out.c_str(), source.get(), nullptr, nullptr, nullptr));
    EXPECT_NE(builder.error().find("cannot create"), std::string::npos) << builder.error();
    EXPECT_FALSE(file_exists(out));

    ArchiveBuilder no_source;
    EXPECT_FALSE(no_source.pack(dir.file("x.dat").c_str(), nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(file_exists(dir.file("x.dat")));
}

TEST(BuilderFailures, ASourceEntryThatCannotBeOpenedOrReadFailsThePack) {
    for (const char* broken : {"/z", "/data/text", "/data/big"}) {
        TempDir dir;
        MemoryTree unopenable = sample_tree();
        unopenable.unopenable.insert(broken);
        FsPtr source(memory_fs_open(unopenable));
        PackResult result = pack_sources(dir, source.get(), nullptr);
        EXPECT_FALSE(result.ok) << broken;
        EXPECT_NE(result.error.find(broken), std::string::npos) << result.error;
        EXPECT_FALSE(file_exists(dir.file("out.dat"))) << broken;

        MemoryTree short_read = sample_tree();
        short_read.short_by[broken] = 1;
        FsPtr shorter(memory_fs_open(short_read));
        result = pack_sources(dir, shorter.get(), nullptr);
        EXPECT_FALSE(result.ok) << broken;
        EXPECT_NE(result.error.find(broken), std::string::npos) << result.error;
        EXPECT_FALSE(file_exists(dir.file("out.dat"))) << broken;
    }
}

TEST(BuilderFailures, AWriteThatComesUpShortAnywhereFailsThePack) {
    TempDir complete_dir;
    FsPtr complete_source(memory_fs_open(sample_tree()));
    PackResult complete = pack_sources(complete_dir, complete_source.get(), nullptr);
    ASSERT_TRUE(complete.ok) << complete.error;
    const uint32_t total = static_cast<uint32_t>(complete.bytes.size());

    // Budgets inside the header, the names, each data block and the final
    // table rewrite (which writes past the end of all data last).
    for (uint32_t budget : {0u, 10u, 40u, 200u, 5000u, 30000u, total / 2, total - 1, total + 40}) {
        TempDir dir;
        FsPtr source(memory_fs_open(sample_tree()));
        BuilderOptions options;
        options.open_output = open_failing;
        options.open_output_context = &budget;
        PackResult result = pack_sources(dir, source.get(), nullptr, options);
        EXPECT_FALSE(result.ok) << "budget " << budget;
        EXPECT_FALSE(file_exists(dir.file("out.dat"))) << "budget " << budget;
        EXPECT_EQ(result.log.find("Packing Complete."), std::string::npos);
    }
}

TEST(BuilderFailures, LimitsOfTheFormatAreRefusedWithAMessage) {
    TempDir dir;
    MemoryTree many;
    for (uint32_t i = 0; i <= 65535; ++i) {
        many.entries.push_back({"/f" + std::to_string(i), ""});
    }
    FsPtr many_source(memory_fs_open(many));
    PackResult result = pack_sources(dir, many_source.get(), nullptr);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("65,535"), std::string::npos) << result.error;
    EXPECT_FALSE(file_exists(dir.file("out.dat")));

    // 63 components below the root fit; 64 do not.
    for (int depth : {63, 64}) {
        MemoryTree deep;
        std::string path;
        for (int i = 1; i < depth; ++i) {
            path += "/d";
            deep.entries.push_back({path, "", true});
        }
        deep.entries.push_back({path + "/leaf", "x"});
        FsPtr deep_source(memory_fs_open(deep));
        result = pack_sources(dir, deep_source.get(), nullptr);
        EXPECT_EQ(result.ok, depth == 63) << depth << " " << result.error;
        if (depth == 64) {
            EXPECT_NE(result.error.find("63"), std::string::npos) << result.error;
        }
    }
}

TEST(BuilderFailures, ASourceArchiveThatChangesWhileReadFailsThePack) {
    // Another process appends to the archive between its opening and the
    // end of the pack: what was read may mix old and new bytes.
    TempDir dir;
    FsPtr memory(memory_fs_open(sample_tree()));
    ASSERT_TRUE(pack_sources(dir, memory.get(), nullptr).ok);
    const std::string source_path = dir.file("source.dat");
    ASSERT_EQ(std::rename(dir.file("out.dat").c_str(), source_path.c_str()), 0);
    FsPtr source(archive_open(nullptr, source_path.c_str(), nullptr));
    ASSERT_TRUE(source);
    const std::string bytes = read_whole_file(source_path);
#ifdef _WIN32
    // Windows keeps writers out while the archive is open.
    EXPECT_THROW(write_whole_file(source_path, bytes + "appended"), std::runtime_error);
    EXPECT_TRUE(pack_sources(dir, source.get(), nullptr).ok);
    return;
#endif
    write_whole_file(source_path, bytes + "appended");

    PackResult result = pack_sources(dir, source.get(), nullptr);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("changed while it was read"), std::string::npos) << result.error;
    EXPECT_FALSE(file_exists(dir.file("out.dat")));
}

TEST(BuilderFailures, AFailureAroundAFileDeflatedByAWorkerEndsThePackAsOnOneThread) {
    // /big is deflated by a worker into a bounded queue of chunks (its
    // deflated form is larger than the queue, so the worker may wait for
    // room) while the writer writes /a; the pack must fail as it does on one
    // thread and leave no worker waiting.
    struct Case {
        const char* broken;
        bool unopenable;     // else one byte short
        uint32_t out_budget; // UINT32_MAX: the output takes everything
    };
    const Case cases[] = {
        {"/big", true, UINT32_MAX}, {"/big", false, UINT32_MAX}, {"/a", true, UINT32_MAX},
        {"/z", false, UINT32_MAX},  {nullptr, false, 300000},    {nullptr, false, 7000000},
    };
    for (const Case& c : cases) {
        std::string errors[2];
        for (unsigned threads : {1u, 2u}) {
            TempDir dir;
            MemoryTree tree;
            tree.entries = {{"/a", make_bytes(3000, 1)},
                            {"/big", make_bytes(9 * 1024 * 1024, 2, false)},
                            {"/z", make_bytes(5000, 3)}};
            if (c.broken && c.unopenable) {
                tree.unopenable.insert(c.broken);
            } else if (c.broken) {
                tree.short_by[c.broken] = 1;
            }
            FsPtr source(memory_fs_open(tree));
            BuilderOptions options;
            options.threads = threads;
            uint32_t budget = c.out_budget;
            if (budget != UINT32_MAX) {
                options.open_output = open_failing;
                options.open_output_context = &budget;
            }
            PackResult result = pack_sources(dir, source.get(), nullptr, options);
            const std::string label = std::string(c.broken ? c.broken : "output") + ", " +
                                      std::to_string(threads) + " threads";
            EXPECT_FALSE(result.ok) << label;
            EXPECT_FALSE(file_exists(dir.file("out.dat"))) << label;
            errors[threads - 1] = result.error;
        }
        EXPECT_FALSE(errors[0].empty());
        EXPECT_EQ(errors[1], errors[0]);
    }
}
