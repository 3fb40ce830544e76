// Writes a new EPK2 archive from the entries of one or two source file
// systems: the first source wins where both hold a file, "_config.txt" of the
// first source names the files that stay uncompressed, and progress is
// reported once per file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_fs.h"
#include "platform/wildcard_index.h"

struct FileSystem;
struct Stream;

// (context, index from 0, total) after each file written; the result is
// ignored.
typedef int (*ProgressCallback)(void* context, uint32_t index, uint32_t total);

struct BuilderTree;

// A file of the tree collected for a pack, as callers outside the builder may
// see it: while the pack runs (from its progress callback) or after collect.
struct CollectedFile {
    const char* path; // as enumerated ("/a/b.txt")
    uint32_t size;    // content size (final once the file is written)
    FileSystem* source;
    const ArchiveEntryInfo* record; // the source archive's record, or null
};

// How pack goes about its work; none of these change what the archive holds.
struct BuilderOptions {
    // Where the builder's log goes (the lines per file without a callback and
    // the closing lines); null for none.
    FILE* log = stdout;
    // Deflate every file anew even where a source archive already holds the
    // entry compressed (or stored) as this archive would.
    bool recompress = false;
    // Entries copied as stored bytes skip the inflate that would notice
    // damage, so copied compressed entries are inflated once to check them.
    // The first source's always are: a patch comes from outside. The second
    // source's (the installed data an update carries over) may be copied
    // exactly as they lie by setting this to false; damage already there
    // then stays as it was instead of failing the merge.
    bool check_second_source_copies = true;
    // Worker threads that deflate files while the writer keeps file order;
    // 0 chooses by the machine, 1 deflates on the calling thread.
    unsigned threads = 1;
    // Runs of entries carried over from an archive file pass through memory
    // this many bytes at a time (where the kernel does not copy them).
    uint32_t copy_block = 1u << 20;
    // Opens the output file for writing; null opens it on disk. Tests put a
    // stream here that refuses writes.
    Stream* (*open_output)(const char* path, void* context) = nullptr;
    void* open_output_context = nullptr;
};

class ArchiveBuilder {
  public:
    ArchiveBuilder();
    ~ArchiveBuilder();
    ArchiveBuilder(const ArchiveBuilder&) = delete;
    ArchiveBuilder& operator=(const ArchiveBuilder&) = delete;

    // Writes the archive at output_path. Returns true when a complete archive
    // was written; on failure no file is left at output_path and error() says
    // why. A builder serves one pack.
    bool pack(const char* output_path, FileSystem* first, FileSystem* second, void* context,
              ProgressCallback callback);
    // The same into an output stream that stays the caller's (positioned at
    // its start, empty): on failure its content is undefined and the caller
    // removes it.
    bool pack_into(Stream* output, FileSystem* first, FileSystem* second, void* context,
                   ProgressCallback callback);

    const std::string& error() const { return error_; }

    BuilderOptions options;

    // Starts an empty tree holding only the root folder; pack does this
    // itself before it collects.
    void start_tree();
    // Adds a source's entries to the tree as pack does (starting one when
    // there is none): an archive by record (each file keeps its record),
    // anything else through fs_enumerate. A file the tree already holds
    // stays the earlier source's.
    void collect(FileSystem* source);
    // Why collecting refused a source (it breaks the archive's limits);
    // empty when it did not.
    const std::string& collect_error() const;
    // The files collected, in archive order; index from 0 (an index past
    // the end throws std::out_of_range). A pack releases its tree when it
    // ends, so after pack there are none.
    uint32_t file_count() const;
    CollectedFile collected_file(uint32_t index) const;

  private:
    friend struct PackRun;
    void release_nodes();
    std::unique_ptr<BuilderTree> tree_;
    std::vector<std::string> no_compression_; // patterns from "_config.txt"
    std::string collect_error_;               // kept after the tree is released
    std::string error_;
};

// True for a path the builder leaves out of every archive: one holding
// ".svn" (version-control folders and everything below them).
bool builder_leaves_out(const char* path);

// Reads the "[NoCompression]" patterns of "_config.txt" in fs's current
// directory into patterns (unchanged when there is no such file). A rule
// file over 1 MiB or with more than 65,536 patterns is refused: false, with
// patterns unchanged and the reason, naming _config.txt and the limit, in
// error.
bool read_packing_rules(FileSystem* fs, std::vector<std::string>& patterns,
                        std::string* error = nullptr);

// Sorts the no-compression patterns into index, for answers per path that
// cost the same however many patterns there are.
void index_packing_rules(const std::vector<std::string>& patterns, WildcardIndex& index);

// True when path matches one of the no-compression patterns, as
// platform_path_match_pattern answers. For one path; pack sorts the patterns
// once with index_packing_rules.
bool matches_no_compression(const std::vector<std::string>& patterns, const std::string& path);
