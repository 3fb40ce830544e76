#include "archive/builder_test_support.h"

#include <algorithm>
#include <cstdio>

#include "archive/archive_fs.h"
#include "fs/filesystem.h"
#include "stream/stream.h"
#include "support/test_support.h"

PackResult pack_sources(const TempDir& dir, FileSystem* first, FileSystem* second,
                        BuilderOptions options, ProgressCallback callback, void* context) {
    PackResult result;
    const std::string out = dir.file("out.dat");
    FILE* log = std::tmpfile();
    options.log = log;
    ArchiveBuilder builder;
    builder.options = options;
    result.ok = builder.pack(out.c_str(), first, second, context, callback);
    result.error = builder.error();
    std::fflush(log);
    std::rewind(log);
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, log)) > 0) {
        result.log.append(chunk, n);
    }
    std::fclose(log);
    result.bytes = read_whole_file(out);
    return result;
}

ReadBack read_back(const std::string& archive_path) {
    ReadBack result;
    FsPtr fs(archive_open(nullptr, archive_path.c_str(), nullptr));
    if (!fs) {
        return result;
    }
    result.entries = enumerate_all(fs.get(), "/", 1);
    for (const SeenEntry& entry : result.entries) {
        if (!(entry.attributes & DIRENTRY_DIRECTORY)) {
            Stream* s = fs_open(fs.get(), entry.name.c_str(), 0, 0, STREAM_OPEN_READ, nullptr);
            result.files.emplace_back(entry.name, s ? read_and_close(s) : std::string("<null>"));
        }
    }
    return result;
}

std::vector<RecordView> file_records(const std::string& archive_path) {
    std::vector<RecordView> records;
    FsPtr fs(archive_open(nullptr, archive_path.c_str(), nullptr));
    if (!fs) {
        return records;
    }
    std::vector<SeenEntry> entries = enumerate_all(fs.get(), "/", 1);
    for (const SeenEntry& entry : entries) {
        ArchiveEntryInfo info;
        if (!(entry.attributes & DIRENTRY_DIRECTORY) &&
            archive_entry_info(fs.get(), entry.name.c_str(), &info)) {
            records.push_back(
                {entry.name, info.key, info.data_offset, info.stored_size, info.size});
        }
    }
    // File order is data order: data blocks are written in file order.
    std::sort(records.begin(), records.end(), [](const RecordView& a, const RecordView& b) {
        return a.data_offset != b.data_offset ? a.data_offset < b.data_offset
                                              : a.stored_size < b.stored_size;
    });
    return records;
}
