// Collecting the output tree from the sources' enumerations.
#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "archive/archive_builder.h"
#include "archive/archive_fs.h"
#include "archive/epk2_format.h"
#include "builder_tree.h"
#include "fs/filesystem.h"
#include "support/messages.h"
#include "support/text.h"

namespace {

constexpr size_t BUILDER_PATH_SIZE = 512;
constexpr uint32_t BUILDER_MAX_PIECES = 64;
constexpr uint32_t BUILDER_MAX_COMPONENTS = BUILDER_MAX_PIECES - 1;

void note_error(BuilderTree* tree, const std::string& text) {
    if (tree->collect_error.empty()) {
        tree->collect_error = text;
    }
}

} // namespace

bool builder_leaves_out(const char* path) {
    return std::strstr(path, ".svn") != nullptr;
}

int builder_add_entry(void* context, FileSystem* fs, DirEntry* entry) {
    auto* tree = static_cast<BuilderTree*>(context);
    if (builder_leaves_out(entry->name)) {
        return 1;
    }
    size_t length = strnlen(entry->name, sizeof entry->name);
    if (length >= BUILDER_PATH_SIZE) {
        note_error(tree, "a path is longer than 511 bytes");
        return 1;
    }
    uint32_t components = static_cast<uint32_t>(std::count(entry->name, entry->name + length, '/'));
    if (components > BUILDER_MAX_COMPONENTS) {
        note_error(tree, std::string("more than 63 path components: ") + entry->name);
        return 1;
    }
    if (archive_path_has_empty_name(entry->name)) {
        // A record whose stored name is empty (or one inside a folder of
        // that kind) has no path: nothing can open it by name, and two of
        // them in one folder could not be told apart when the first source
        // is to win. The merge leaves it out and says so.
        report_warning("%s: an entry with an empty name is left out", entry->name);
        return 1;
    }
    // The path is kept once; the name is its last component, cut at the
    // last "/". path_file_name would also cut at a backslash and step over
    // a "/" after a code page 932 lead byte, neither of which separates
    // archive path components.
    size_t leaf_at = length;
    while (leaf_at > 0 && entry->name[leaf_at - 1] != '/') {
        --leaf_at;
    }
    BuilderDirectory* directory = nullptr;
    const char* leaf = entry->name + leaf_at;
    // Sources report a folder's entries one after another: the folder of
    // the entry before is most often this one's too.
    BuilderDirectory* last = tree->last_folder;
    if (leaf_at > 0 && last && tree->last_folder_length == leaf_at - 1 &&
        std::memcmp(entry->name, last->path, leaf_at - 1) == 0) {
        directory = last;
    } else {
        char path[BUILDER_PATH_SIZE];
        std::memcpy(path, entry->name, length + 1);
        char* pieces[BUILDER_MAX_PIECES];
        uint32_t count = split_text(path, '/', pieces, BUILDER_MAX_PIECES);
        if (count < 2 || pieces[0][0] != '\0') {
            note_error(tree, std::string("an entry name is not an absolute path: ") + entry->name);
            return 1;
        }
        directory = tree->root;
        for (uint32_t i = 1; i + 1 < count; ++i) {
            directory = tree->by_name.find_directory(directory, pieces[i]);
            if (!directory) {
                // Sources report a directory before its contents; one that
                // did not is broken, and its entry cannot be placed.
                note_error(tree,
                           std::string("an entry arrived before its directory: ") + entry->name);
                return 1;
            }
        }
        tree->last_folder = directory;
        tree->last_folder_length = leaf_at - 1;
    }
    if (leaf[0] == '\0') {
        note_error(tree, std::string("an entry name has an empty component: ") + entry->name);
        return 1;
    }

    if (entry->attributes & DIRENTRY_DIRECTORY) {
        if (tree->by_name.find_directory(directory, leaf)) {
            return 1;
        }
        BuilderDirectory* created = tree->directory_pool.make();
        created->path = tree->text.keep(entry->name, length);
        created->name = created->path + leaf_at;
        created->index = static_cast<uint32_t>(tree->directories.size() + 1);
        created->parent = directory;
        if (directory->last_subdirectory) {
            created->previous = directory->last_subdirectory;
            created->previous->next = created;
        } else {
            directory->first_subdirectory = created;
        }
        directory->last_subdirectory = created;
        tree->by_name.add(created);
        tree->directories.push_back(created);
        return 1;
    }

    if (tree->by_name.has_file(directory, leaf)) {
        return 1; // the source enumerated first keeps the file
    }
    if (tree->files.size() >= EPK2_MAX_FILES) {
        note_error(tree, "more than 65,535 files");
        return 1;
    }
    BuilderFile* file = tree->file_pool.make();
    file->path = tree->text.keep(entry->name, length);
    file->name = file->path + leaf_at;
    file->size = entry->size;
    file->source = fs;
    file->parent = directory;
    file->index = static_cast<uint16_t>(tree->files.size() + 1);
    if (directory->last_file) {
        file->previous = directory->last_file;
        file->previous->next = file;
    } else {
        directory->first_file = file;
    }
    directory->last_file = file;
    tree->by_name.add(file);
    tree->files.push_back(file);
    return 1;
}

void builder_tree_start(BuilderTree& tree) {
    tree.directories.clear();
    tree.files.clear();
    tree.directory_pool.clear();
    tree.file_pool.clear();
    tree.text.clear();
    tree.by_name.clear();
    tree.last_folder = nullptr;
    tree.collect_error.clear();
    tree.root = tree.directory_pool.make();
    tree.root->index = 1;
    tree.directories.push_back(tree.root);
}

void ArchiveBuilder::start_tree() {
    if (!tree_) {
        tree_ = std::make_unique<BuilderTree>();
    }
    builder_tree_start(*tree_);
    collect_error_.clear();
}

void ArchiveBuilder::release_nodes() {
    tree_.reset();
}

const std::string& ArchiveBuilder::collect_error() const {
    return collect_error_;
}

uint32_t ArchiveBuilder::file_count() const {
    return tree_ ? static_cast<uint32_t>(tree_->files.size()) : 0;
}

CollectedFile ArchiveBuilder::collected_file(uint32_t index) const {
    if (index >= file_count()) {
        throw std::out_of_range("no collected file " + std::to_string(index));
    }
    const BuilderFile& file = *tree_->files[index];
    return {file.path, file.size, file.source, file.has_record ? &file.record : nullptr};
}

ArchiveBuilder::ArchiveBuilder() = default;
ArchiveBuilder::~ArchiveBuilder() = default;

const char* BuilderText::keep(const char* text, size_t length) {
    if (size_ - used_ < length + 1) {
        // A path is shorter than 512 bytes, so a block always holds it.
        size_ = std::max(BLOCK, length + 1);
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(size_));
        used_ = 0;
    }
    char* kept = blocks_.back().get() + used_;
    std::memcpy(kept, text, length);
    kept[length] = '\0';
    used_ += length + 1;
    return kept;
}

uint32_t BuilderNameIndex::hash_of(const BuilderDirectory* parent, const char* name,
                                   bool directory) {
    // FNV-1a over the name, seeded with the folder and the kind.
    uint32_t hash = 2166136261u ^ parent->index ^ (directory ? 0x80000000u : 0);
    for (; *name != '\0'; ++name) {
        hash = (hash ^ static_cast<unsigned char>(*name)) * 16777619u;
    }
    return hash;
}

const BuilderNameIndex::Slot* BuilderNameIndex::find(const BuilderDirectory* parent,
                                                     const char* name, bool directory) const {
    if (slots_.empty()) {
        return nullptr;
    }
    const uint32_t hash = hash_of(parent, name, directory);
    const size_t mask = slots_.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (!slot.name) {
            return nullptr;
        }
        if (slot.hash == hash && slot.parent == parent && slot.directory == directory &&
            std::strcmp(slot.name, name) == 0) {
            return &slot;
        }
    }
}

BuilderDirectory* BuilderNameIndex::find_directory(const BuilderDirectory* parent,
                                                   const char* name) const {
    const Slot* slot = find(parent, name, true);
    return slot ? static_cast<BuilderDirectory*>(slot->node) : nullptr;
}

bool BuilderNameIndex::has_file(const BuilderDirectory* parent, const char* name) const {
    return find(parent, name, false) != nullptr;
}

void BuilderNameIndex::add(BuilderDirectory* directory) {
    insert(directory->parent, directory->name, true, directory);
}

void BuilderNameIndex::add(BuilderFile* file) {
    insert(file->parent, file->name, false, file);
}

void BuilderNameIndex::insert(const BuilderDirectory* parent, const char* name, bool directory,
                              void* node) {
    // At most half full, so that a probe ends soon.
    if ((used_ + 1) * 2 > slots_.size()) {
        grow();
    }
    Slot slot{hash_of(parent, name, directory), parent, name, node, directory};
    const size_t mask = slots_.size() - 1;
    size_t at = slot.hash & mask;
    while (slots_[at].name) {
        at = (at + 1) & mask;
    }
    slots_[at] = slot;
    ++used_;
}

void BuilderNameIndex::grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 1024 : old.size() * 2, Slot{});
    const size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
        if (slot.name) {
            size_t at = slot.hash & mask;
            while (slots_[at].name) {
                at = (at + 1) & mask;
            }
            slots_[at] = slot;
        }
    }
}
