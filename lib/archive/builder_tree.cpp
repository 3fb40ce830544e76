// Collecting the output tree from the sources' enumerations.
#include <algorithm>
#include <cstring>
#include <utility>

#include "archive/archive_builder.h"
#include "archive/archive_fs.h"
#include "archive/epk2_format.h"
#include "fs/filesystem.h"
#include "support/messages.h"
#include "support/text.h"

namespace {

constexpr size_t BUILDER_PATH_SIZE = 512;
constexpr uint32_t BUILDER_MAX_PIECES = 64;
constexpr uint32_t BUILDER_MAX_COMPONENTS = BUILDER_MAX_PIECES - 1;

BuilderDirectory* find_subdirectory(BuilderDirectory* directory, const char* name) {
    auto found = directory->subdirectory_by_name.find(name);
    return found == directory->subdirectory_by_name.end() ? nullptr : found->second;
}

bool has_file(BuilderDirectory* directory, const char* name) {
    return directory->file_names.count(name) != 0;
}

void note_error(ArchiveBuilder* builder, const std::string& text) {
    if (builder->collect_error.empty()) {
        builder->collect_error = text;
    }
}

} // namespace

bool builder_leaves_out(const char* path) {
    return std::strstr(path, ".svn") != nullptr;
}

int add_entry(void* context, FileSystem* fs, DirEntry* entry) {
    auto* builder = static_cast<ArchiveBuilder*>(context);
    if (builder_leaves_out(entry->name)) {
        return 1;
    }
    size_t length = strnlen(entry->name, sizeof entry->name);
    if (length >= BUILDER_PATH_SIZE) {
        note_error(builder, "a path is longer than 511 bytes");
        return 1;
    }
    uint32_t components = static_cast<uint32_t>(std::count(entry->name, entry->name + length, '/'));
    if (components > BUILDER_MAX_COMPONENTS) {
        note_error(builder, std::string("more than 63 path components: ") + entry->name);
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
    char path[BUILDER_PATH_SIZE];
    std::memcpy(path, entry->name, length + 1);
    char* pieces[BUILDER_MAX_PIECES];
    uint32_t count = split_text(path, '/', pieces, BUILDER_MAX_PIECES);
    if (count < 2 || pieces[0][0] != '\0') {
        note_error(builder, std::string("an entry name is not an absolute path: ") + entry->name);
        return 1;
    }
    BuilderDirectory* directory = builder->root;
    for (uint32_t i = 1; i + 1 < count; ++i) {
        directory = find_subdirectory(directory, pieces[i]);
        if (!directory) {
            // Sources report a directory before its contents; one that did
            // not is broken, and its entry cannot be placed.
            note_error(builder,
                       std::string("an entry arrived before its directory: ") + entry->name);
            return 1;
        }
    }
    const char* leaf = pieces[count - 1];
    if (leaf[0] == '\0') {
        note_error(builder, std::string("an entry name has an empty component: ") + entry->name);
        return 1;
    }
    std::string full_name(entry->name, length);
    // The name is the leaf as cut at "/" above. path_file_name would also
    // cut at a backslash and step over a "/" after a code page 932 lead byte,
    // neither of which separates archive path components.
    std::string name = leaf;

    if (entry->attributes & DIRENTRY_DIRECTORY) {
        if (find_subdirectory(directory, leaf)) {
            return 1;
        }
        auto* created = new BuilderDirectory;
        created->path = std::move(full_name);
        created->name = name;
        created->index = static_cast<uint32_t>(builder->directories.size() + 1);
        created->parent = directory;
        if (!directory->subdirectories.empty()) {
            created->previous = directory->subdirectories.back();
            created->previous->next = created;
        }
        directory->subdirectories.push_back(created);
        directory->subdirectory_by_name.emplace(name, created);
        builder->directories.push_back(created);
        builder->names.try_emplace(std::move(name), 0);
        return 1;
    }

    if (has_file(directory, leaf)) {
        return 1; // the source enumerated first keeps the file
    }
    if (builder->files.size() >= EPK2_MAX_FILES) {
        note_error(builder, "more than 65,535 files");
        return 1;
    }
    auto* file = new BuilderFile;
    file->path = std::move(full_name);
    file->name = name;
    file->size = entry->size;
    file->source = fs;
    file->parent = directory;
    file->index = static_cast<uint16_t>(builder->files.size() + 1);
    if (!directory->files.empty()) {
        file->previous = directory->files.back();
        file->previous->next = file;
    }
    directory->files.push_back(file);
    directory->file_names.insert(name);
    builder->files.push_back(file);
    builder->names.try_emplace(std::move(name), 0);
    return 1;
}

void ArchiveBuilder::release_nodes() {
    for (BuilderDirectory* directory : directories) {
        delete directory;
    }
    for (BuilderFile* file : files) {
        delete file;
    }
    directories.clear();
    files.clear();
    root = nullptr;
}

ArchiveBuilder::~ArchiveBuilder() {
    release_nodes();
}
