// A FileSystem held in memory for builder tests: entries are reported in the
// order given (full paths from "/", a trailing "/" marks a directory), and
// single entries can be made to fail when opened or to deliver fewer bytes
// than their size.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct FileSystem;

struct MemoryFsSpec {
    std::vector<std::pair<std::string, std::string>> entries; // path, content
    std::set<std::string> unopenable;                         // open returns null
    std::map<std::string, uint32_t> short_by;                 // delivers this many bytes fewer
};

FileSystem* memory_fs_create(const MemoryFsSpec& spec);
