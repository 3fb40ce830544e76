// Shared helpers of the archive tests: a counting allocator, whole-stream
// reads and enumeration capture (message capture comes from the shared
// support library).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fs/filesystem.h"
#include "support/memory.h"
#include "support/message_capture.h"

struct Stream;
class TempDir;

// An allocator over malloc that counts the blocks still handed out, to show
// that a refused or closed archive leaves nothing behind.
struct CountingAllocator {
    CountingAllocator();
    Allocator base;
    int live_blocks;
};

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
