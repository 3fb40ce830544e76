// Shared helpers of the archive tests: whole-stream reads, enumeration
// capture and the judgement of a possibly hostile archive (the counting
// allocator and message capture come from the shared support library).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_check.h"
#include "fs/filesystem.h"
#include "support/memory.h"
#include "support/message_capture.h"
#include "support/test_doubles.h"

struct Stream;
class TempDir;

struct FsCloser {
    void operator()(FileSystem* fs) const { fs_close(fs); }
};
using FsPtr = std::unique_ptr<FileSystem, FsCloser>;

// Reads until a read returns 0 (at most limit bytes), then closes the stream.
std::string read_and_close(Stream* stream, uint32_t chunk = 4096, uint32_t limit = 1u << 24);

struct SeenEntry {
    std::string name;
    uint32_t size;
    uint32_t attributes;
    bool operator==(const SeenEntry& other) const = default;
};
std::vector<SeenEntry> enumerate_all(FileSystem* fs, const char* path, int recursive,
                                     int* result = nullptr);

// Writes bytes into dir as name and returns the file's path.
std::string save_archive(const TempDir& dir, const std::string& bytes,
                         const std::string& name = "test.dat");

// How the library takes an archive: the reader's refusal, or what the layout
// check finds and which entries do not read back whole.
struct ArchiveFinding {
    ArchiveVerdict verdict;
    std::string where;
    std::string reason;
    bool operator==(const ArchiveFinding& other) const = default;
};

struct ArchiveJudgement {
    std::string refusal; // the reader's message; empty when it opened
    bool opened = false;
    std::vector<ArchiveFinding> findings;
    std::vector<std::string> damaged; // entries that did not read back whole
    uint32_t files = 0;
    uint32_t dirs = 0;
};

// Opens bytes from memory (path null) or the same bytes saved at path,
// checks the layout and reads every entry through its record and by its
// path. A refusal must come with the reader's "Error: " message, and nothing
// may be left allocated.
ArchiveJudgement judge_archive(const std::string& bytes, const std::string* path);
