// The tree a pack collects from its sources before it writes: folders and
// files with their links as the archive's table records them. Private to the
// builder; callers see collected files through ArchiveBuilder's queries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_fs.h"

struct DirEntry;
struct FileSystem;
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

struct BuilderTree {
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
    // Set when a source breaks the archive's limits.
    std::string collect_error;
};

// Empties tree down to the root folder.
void builder_tree_start(BuilderTree& tree);

// The enumeration callback that collects: adds one entry of fs to the tree
// (context), unless the tree already holds it.
int builder_add_entry(void* tree, FileSystem* fs, DirEntry* entry);
