// Reads an archive entry to its end and tells whether it came back whole.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct FileSystem;

struct EntryReadResult {
    bool opened = false;
    bool sink_failed = false; // the sink refused a chunk (a write error)
    uint64_t delivered = 0;
    std::string problem; // empty when the entry is whole
};

// sink receives each chunk; returning false stops the read.
using EntrySink = std::function<bool(const char* data, uint32_t size)>;

EntryReadResult read_entry(FileSystem* fs, const std::string& path, const EntrySink& sink);
// The same for an entry whose record a listing already holds.
struct ArchiveEntryInfo;
EntryReadResult read_entry(FileSystem* fs, const ArchiveEntryInfo& info, const EntrySink& sink);
