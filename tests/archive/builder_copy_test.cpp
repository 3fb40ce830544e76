// Entries carried over from an archive file are copied from file to file
// (in runs where they lie back to back, by the kernel where it can), yet the
// output must be byte for byte what copying each entry through memory gives:
// whatever the source's keys, padding and layout, with the kernel's copy or
// its fallback.
#include <gtest/gtest.h>

#include <functional>

#include "archive/archive_fs.h"
#include "archive/builder_test_support.h"
#include "platform/platform.h"
#include "support/test_archive_writer.h"
#include "support/test_support.h"

namespace {

struct CopyCase {
    const char* name;
    TestArchive base;
    std::function<void(std::string&)> tweak; // changes the base's bytes; may be empty
    bool keeps_keys = false;                 // every carried entry keeps its key (40 files)
};

TestArchive base_archive(int files) {
    TestArchive a;
    a.files.push_back({"/info.txt", "version=1.0\r\n", 1, false});
    for (int i = 0; i < files; ++i) {
        // Sizes around the 1024 scrambled bytes and the 32-byte alignment;
        // mostly compressed, as the merge copies those, with a few stored
        // ones (deflated anew) breaking the runs.
        uint32_t size = 700 + uint32_t(i) * 97 % 3000;
        a.files.push_back({"/data/f" + std::to_string(100 + i), make_bytes(size, i, i % 3 != 0),
                           uint8_t(i % 5), i % 7 != 3});
    }
    return a;
}

// Where the merge below puts the base's f(100 + i), 1-based: the patch puts
// four files first and replaces f105 and f120.
uint32_t merged_index(int i) {
    return uint32_t(i + (i < 5 ? 5 : i < 20 ? 4 : 3));
}

// The same base with every carried entry already under the key the merge
// gives it, so that its runs go over without a head rewritten.
TestArchive base_with_kept_keys(int files) {
    TestArchive a = base_archive(files);
    for (int i = 0; i < files; ++i) {
        a.files[size_t(i) + 1].key = uint8_t((merged_index(i) - 1) % 4 + 1);
    }
    return a;
}

// Offset of file index's data in a built archive.
uint32_t data_offset(const std::string& bytes, uint32_t index) {
    return test_table_get_u32(bytes, test_file_field(test_get_u32(bytes, 20), index, 8));
}
uint32_t stored_size(const std::string& bytes, uint32_t index) {
    return test_table_get_u32(bytes, test_file_field(test_get_u32(bytes, 20), index, 12));
}
uint8_t key_of(const std::string& bytes, uint32_t index) {
    return uint8_t(test_table_get_u32(bytes, test_file_field(test_get_u32(bytes, 20), index, 4)) >>
                   24);
}

TEST(BuilderCopy, CopiedEntriesAreTheBytesACopyThroughMemoryGives) {
    const std::vector<CopyCase> cases = {
        {"a plain base", base_archive(40), nullptr},
        {"every carried entry keeps its key", base_with_kept_keys(40), nullptr, true},
        {"padding that is not zeros", base_archive(40),
         [](std::string& bytes) {
             for (uint32_t i = 2; i < 30; i += 3) {
                 uint32_t end = data_offset(bytes, i) + stored_size(bytes, i);
                 if (end % 32 != 0) {
                     bytes[end] = '\x5A';
                 }
             }
         }},
        {"the last entry without its padding", base_archive(12),
         [](std::string& bytes) {
             uint32_t last = test_get_u32(bytes, 24);
             bytes.resize(data_offset(bytes, last) + stored_size(bytes, last));
         }},
        {"a gap between entries", base_archive(20),
         [](std::string& bytes) { // entry 9 starts 32 bytes later than entry 8 ends
             uint32_t dirs = test_get_u32(bytes, 20);
             uint32_t at = data_offset(bytes, 9);
             uint32_t length = stored_size(bytes, 9);
             bytes.insert(at, 32, '\0');
             test_table_set_u32(bytes, test_file_field(dirs, 9, 8), at + 32);
             for (uint32_t i = 10; i <= test_get_u32(bytes, 24); ++i) {
                 uint32_t field = test_file_field(dirs, i, 8);
                 test_table_set_u32(bytes, field, test_table_get_u32(bytes, field) + 32);
             }
             (void)length;
         }},
    };
    TestArchive patch;
    patch.files = {{"/info.txt", "version=1.1\r\n"},
                   {"/data/f105", "replaced"},
                   {"/data/f1050", "added between, shifting every key after it"},
                   {"/data/f120", make_bytes(5000, 99), 2, true}};
    const std::string patch_bytes = build_test_archive(patch);

    for (const CopyCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::string base_bytes = build_test_archive(c.base);
        if (c.tweak) {
            c.tweak(base_bytes);
        }
        const std::string base_path = dir.file("base.dat");
        write_whole_file(base_path, base_bytes);
        BuilderOptions options;
        options.check_second_source_copies = false; // as the update carries data over

        // The reference: every entry through memory (an archive in memory has
        // no file to copy from).
        FsPtr patch_memory(
            archive_open_memory(patch_bytes.data(), uint32_t(patch_bytes.size()), nullptr));
        FsPtr base_memory(
            archive_open_memory(base_bytes.data(), uint32_t(base_bytes.size()), nullptr));
        ASSERT_TRUE(patch_memory && base_memory);
        PackResult reference = pack_sources(dir, patch_memory.get(), base_memory.get(), options);
        ASSERT_TRUE(reference.ok) << reference.error;
        if (c.keeps_keys) {
            for (int i = 0; i < 40; ++i) {
                if (i != 5 && i != 20) {
                    EXPECT_EQ(key_of(reference.bytes, merged_index(i)), key_of(base_bytes, i + 2));
                }
            }
        }

        struct Way {
            const char* name;
            PlatformCopyMode mode;
            uint32_t block; // 0: the default
        };
        // Blocks smaller than a scrambled head cut heads and padding apart.
        for (const Way& way : {Way{"kernel copy", PLATFORM_COPY_KERNEL_ALWAYS, 0},
                               Way{"reads and writes", PLATFORM_COPY_READ_WRITE, 0},
                               Way{"the default", PLATFORM_COPY_KERNEL_WHERE_CHEAPER, 0},
                               Way{"blocks of 1000 bytes", PLATFORM_COPY_READ_WRITE, 1000},
                               Way{"blocks of 4099 bytes", PLATFORM_COPY_READ_WRITE, 4099}}) {
            SCOPED_TRACE(way.name);
            platform_file_copy_mode(way.mode);
            BuilderOptions way_options = options;
            if (way.block) {
                way_options.copy_block = way.block;
            }
            FsPtr base_file(archive_open(nullptr, base_path.c_str(), nullptr));
            ASSERT_TRUE(base_file);
            PackResult copied = pack_sources(dir, patch_memory.get(), base_file.get(), way_options);
            platform_file_copy_mode(PLATFORM_COPY_KERNEL_WHERE_CHEAPER);
            ASSERT_TRUE(copied.ok) << copied.error;
            EXPECT_TRUE(copied.bytes == reference.bytes);
        }
    }
}

} // namespace
