// The name index must find exactly what a scan of each directory's chain
// finds: in folders of many thousand names, where names repeat (the first
// in the chain wins), and for every kind of miss.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "archive_table.h"
#include "stream/stream.h"
#include "support/memory.h"
#include "support/test_archive_writer.h"
#include "support/test_support.h"

namespace {

// The table of an archive, read and checked as the reader does, with and
// without its index.
struct LoadedTable {
    std::vector<unsigned char> bytes;
    std::vector<unsigned char> index_memory;
    ArchiveTable scanned{};
    ArchiveTable indexed{};
};

bool load_table(const std::string& archive, LoadedTable& out) {
    Stream* s = stream_open_memory(const_cast<char*>(archive.data()), uint32_t(archive.size()),
                                   STREAM_OPEN_READ, 0, nullptr);
    Epk2Header header;
    bool ok = archive_read_header(s, uint32_t(archive.size()), &header);
    if (ok) {
        out.bytes.resize(header.table_end - EPK2_HEADER_SIZE);
        ok = archive_read_table(s, &header, out.bytes.data(), nullptr);
    }
    stream_close(s);
    if (!ok) {
        return false;
    }
    out.scanned = {
        out.bytes.data(), uint32_t(out.bytes.size()), header.dir_count, header.file_count, {}};
    if (!archive_table_validate(&out.scanned, uint32_t(archive.size()), nullptr)) {
        return false;
    }
    out.indexed = out.scanned;
    out.index_memory.resize(size_t(archive_index_bytes(header.dir_count, header.file_count)));
    return archive_index_build(&out.indexed, out.index_memory.data(), nullptr) &&
           out.indexed.index.files != nullptr;
}

struct IndexCase {
    const char* name;
    TestArchive archive;
    // Changes the built bytes (to make names repeat); may be empty.
    std::function<void(std::string&)> patch;
    std::vector<std::string> probes; // looked up as files and as directories
};

// Points record b's name at record a's, so two siblings share a name.
void share_name(std::string& bytes, uint32_t from_field, uint32_t to_field) {
    test_table_set_u32(bytes, to_field, test_table_get_u32(bytes, from_field));
}

TEST(ArchiveIndex, FindsWhatAScanOfTheChainFinds) {
    TestArchive big;
    std::vector<std::string> big_probes = {"/many/f0", "/many/f4999", "/many/f5000", "/many/",
                                           "/many",    "/many/f12/x", "/f1",         ""};
    for (int i = 0; i < 5000; ++i) {
        big.files.push_back({"/many/f" + std::to_string(i), std::to_string(i)});
        if (i % 97 == 0) {
            big_probes.push_back("/many/f" + std::to_string(i));
        }
    }
    TestArchive repeated;
    repeated.files = {{"/d/a", "first a"}, {"/d/b", "b"},          {"/d/c", "c"},
                      {"/e/x", "in e"},    {"/e/y", "y in e"},     {"/f/x", "in f"},
                      {"/f/z", "z in f"},  {"/g/one/deep", "deep"}};
    // Directories: root 1, d 2, e 3, f 4, g 5, one 6. Files in the order above.
    const uint32_t dirs = 6;
    std::vector<std::string> repeated_probes = {"/d/a",        "/d/b",   "/d/c", "/e/x",  "/e/y",
                                                "/e/z",        "/f/x",   "/f/z", "/e",    "/f",
                                                "/g/one/deep", "/g/one", "/d/A", "/e/x/y"};

    const std::vector<IndexCase> cases = {
        {"5,000 names in one folder", big, nullptr, big_probes},
        {"distinct names", repeated, nullptr, repeated_probes},
        {"a file name repeated in one folder", repeated,
         [&](std::string& bytes) { // c is called a too: the earlier a wins
             share_name(bytes, test_file_field(dirs, 1, 0), test_file_field(dirs, 3, 0));
         },
         repeated_probes},
        {"a folder name repeated", repeated,
         [&](std::string& bytes) { // f is called e too: /e/z is then not found
             share_name(bytes, test_dir_field(3, 0), test_dir_field(4, 0));
         },
         repeated_probes},
        {"a folder named like a file beside it", repeated,
         [&](std::string& bytes) { // g is called d; its own lookups go to d
             share_name(bytes, test_dir_field(2, 0), test_dir_field(5, 0));
         },
         repeated_probes},
    };
    for (const IndexCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = build_test_archive(c.archive);
        if (c.patch) {
            c.patch(bytes);
        }
        LoadedTable table;
        ASSERT_TRUE(load_table(bytes, table));
        int found = 0;
        for (const std::string& probe : c.probes) {
            SCOPED_TRACE(probe);
            uint32_t file = archive_find_file(&table.scanned, probe.c_str());
            EXPECT_EQ(archive_find_file(&table.indexed, probe.c_str()), file);
            EXPECT_EQ(archive_find_dir(&table.indexed, probe.c_str()),
                      archive_find_dir(&table.scanned, probe.c_str()));
            found += file != 0;
        }
        EXPECT_GT(found, 0); // the probes are not all misses
    }
}

} // namespace
