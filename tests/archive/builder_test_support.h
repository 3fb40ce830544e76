// Helpers of the builder tests: pack sources into a temporary archive and
// read the result back through the reader.
#pragma once

#include <string>
#include <vector>

#include "archive/archive_builder.h"
#include "archive/archive_test_support.h"
#include "support/memory_fs.h"

struct PackResult {
    bool ok = false;
    std::string error;
    std::string bytes; // the output file, empty when none was left
    std::string log;   // what the builder printed
};

// Packs first (and second) into dir/out.dat with the given options; no
// callback unless one is given.
PackResult pack_sources(const TempDir& dir, FileSystem* first, FileSystem* second,
                        BuilderOptions options = {}, ProgressCallback callback = nullptr,
                        void* context = nullptr);

// Every entry of an archive file: name -> content (directories map to "/").
struct ReadBack {
    std::vector<SeenEntry> entries;                         // archive order
    std::vector<std::pair<std::string, std::string>> files; // path, content
};
ReadBack read_back(const std::string& archive_path);

// File records in file order (index from 1): key, stored and plain sizes.
struct RecordView {
    std::string path;
    uint8_t key;
    uint32_t data_offset, stored_size, size;
};
std::vector<RecordView> file_records(const std::string& archive_path);
