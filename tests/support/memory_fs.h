// A FileSystem over entries held in memory, for the builder's tests and the
// fuzz targets: enumeration of "/" reports the entries in the order given
// (recursively or only the top level), and open finds a file by its absolute
// path or by a path relative to the root. Single files can be made to fail
// when opened or to deliver fewer bytes than their size.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

struct FileSystem;

// One entry: an absolute path ("/a/b"), its content and whether it is a
// directory (a directory's content is ignored).
struct MemoryEntry {
    std::string path;
    std::string content;
    bool directory = false;
};

struct MemoryTree {
    std::vector<MemoryEntry> entries;
    std::set<std::string> unopenable;         // paths whose open returns null
    std::map<std::string, uint32_t> short_by; // paths that deliver this many bytes fewer
};

// The tree is copied; fs_close frees everything.
FileSystem* memory_fs_open(const MemoryTree& tree);
FileSystem* memory_fs_open(const std::vector<MemoryEntry>& entries);
