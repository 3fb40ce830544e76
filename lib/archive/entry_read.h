// Reading an entry to its end and judging whether it came back whole: the
// one place that decides it, for the builder, the updater's loose files and
// the tool.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "archive/archive_fs.h"

struct Stream;

// Receives each chunk in order; returning false stops the read.
using EntrySink = std::function<bool(const unsigned char* data, uint32_t size)>;

struct EntryReadResult {
    bool opened = false;
    bool sink_failed = false; // the sink refused a chunk (a write error)
    uint64_t delivered = 0;   // bytes the entry gave
    std::string problem;      // why the entry is not whole; empty when it is
    // Set when the content came whole but could not be checked (a zlib
    // stream cut after its last data byte, without its Adler-32).
    bool unchecked = false;

    bool whole() const { return opened && !sink_failed && problem.empty(); }
};

// Reads stream to its end through buffer and hands the sink at most size
// bytes. The content is whole when exactly size bytes came and, where
// compressed (an inflating entry stream), its zlib stream ended with a good
// Adler-32, or stopped at the end of its stored bytes right after the last
// content byte (whole, but unchecked). A null stream gives opened false and
// a problem.
EntryReadResult entry_read_stream(Stream* stream, uint32_t size, bool compressed,
                                  const EntrySink& sink, unsigned char* buffer, uint32_t capacity);

// Opens the record's content in fs (see archive_open_entry_at) and reads it
// as above.
EntryReadResult archive_read_entry(FileSystem* fs, const ArchiveEntryInfo& info,
                                   const EntrySink& sink, unsigned char* buffer, uint32_t capacity);
