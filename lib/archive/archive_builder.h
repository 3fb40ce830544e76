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
struct DirEntry;

// (context, index from 0, total) after each file written; the result is
// ignored.
typedef int (*ProgressCallback)(void* context, uint32_t index, uint32_t total);

struct BuilderFile;

// The tree's nodes, paths and names live in the builder's pools and text
// store: a merge of many small files must not pay a heap allocation or two
// per entry.
struct BuilderDirectory {
    uint32_t index = 0;
    const char* path = "";    // as enumerated ("/a/b"); empty for the root
    const char* name = "";    // last component (within path); empty for the root
    uint32_t name_offset = 0; // in the names block, once the table is laid out
    BuilderDirectory* parent = nullptr;
    BuilderDirectory* previous = nullptr;
    BuilderDirectory* next = nullptr;
    BuilderDirectory* first_subdirectory = nullptr;
    BuilderDirectory* last_subdirectory = nullptr;
    BuilderFile* first_file = nullptr;
    BuilderFile* last_file = nullptr;
};

struct BuilderFile {
    const char* path = "";
    const char* name = ""; // last component (within path)
    uint32_t name_offset = 0;
    uint16_t index = 0;
    uint8_t attributes = 0;
    uint8_t key_number = 0;
    uint32_t data_offset = 0;
    uint32_t stored_size = 0;
    uint32_t size = 0;
    BuilderDirectory* parent = nullptr;
    BuilderFile* previous = nullptr;
    BuilderFile* next = nullptr;
    FileSystem* source = nullptr;
    // The source archive's record of the file, kept from its enumeration so
    // that copying and checking need no lookup by path.
    ArchiveEntryInfo record{};
    bool has_record = false;
    // Inflate a copied compressed entry once to check it (see BuilderOptions).
    bool check_copy = true;
    // Deflated in the archive: no pattern of _config.txt names it. Decided
    // once, as every step of the pack asks.
    bool compress = true;
};

// Nodes of one kind in blocks that never move, so that the tree's links stay
// valid while it grows.
template <typename Node>
class BuilderPool {
  public:
    Node* make() {
        if (used_ == BLOCK) {
            blocks_.push_back(std::make_unique<Node[]>(BLOCK));
            used_ = 0;
        }
        return &blocks_.back()[used_++];
    }
    void clear() {
        blocks_.clear();
        used_ = BLOCK;
    }

  private:
    static constexpr size_t BLOCK = 1024;
    std::vector<std::unique_ptr<Node[]>> blocks_;
    size_t used_ = BLOCK;
};

// Paths of the tree, kept back to back in blocks that never move.
class BuilderText {
  public:
    const char* keep(const char* text, size_t length);
    void clear() {
        blocks_.clear();
        used_ = size_ = 0;
    }

  private:
    static constexpr size_t BLOCK = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_;
    size_t used_ = 0;
    size_t size_ = 0;
};

// Finds a folder's subfolder or file by name, for all folders in one open
// table: a folder of many thousand entries is not scanned once per entry,
// and no folder keeps a set of its own.
class BuilderNameIndex {
  public:
    BuilderDirectory* find_directory(const BuilderDirectory* parent, const char* name) const;
    bool has_file(const BuilderDirectory* parent, const char* name) const;
    void add(BuilderDirectory* directory);
    void add(BuilderFile* file);
    void clear() {
        slots_.clear();
        used_ = 0;
    }

  private:
    struct Slot {
        uint32_t hash = 0;
        const BuilderDirectory* parent = nullptr;
        const char* name = nullptr; // null: empty slot
        void* node = nullptr;
        bool directory = false;
    };
    static uint32_t hash_of(const BuilderDirectory* parent, const char* name, bool directory);
    const Slot* find(const BuilderDirectory* parent, const char* name, bool directory) const;
    void insert(const BuilderDirectory* parent, const char* name, bool directory, void* node);
    void grow();
    std::vector<Slot> slots_;
    size_t used_ = 0;
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
    ArchiveBuilder() = default;
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

    // The tree being built; public for add_entry and for tests.
    std::vector<BuilderDirectory*> directories;
    std::vector<BuilderFile*> files;
    BuilderDirectory* root = nullptr;
    BuilderPool<BuilderDirectory> directory_pool;
    BuilderPool<BuilderFile> file_pool;
    BuilderText text;
    BuilderNameIndex by_name;
    // The folder of the entry added last, and the length of its path.
    BuilderDirectory* last_folder = nullptr;
    size_t last_folder_length = 0;
    std::vector<std::string> no_compression; // patterns from "_config.txt"

    // Set by add_entry when a source breaks the archive's limits.
    std::string collect_error;

    // Starts an empty tree holding only the root folder; pack does this
    // itself before it collects.
    void start_tree();
    // Adds a source's entries to the tree as pack does: an archive by record
    // (each file keeps its record), anything else through fs_enumerate and
    // add_entry.
    void collect(FileSystem* source);

  private:
    friend struct PackRun;
    void release_nodes();
    std::string error_;
};

// The builder's enumeration callback: adds one entry of fs to the tree.
int add_entry(void* builder, FileSystem* fs, DirEntry* entry);

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
