// Path lookup in a validated table: one component per level, names compared
// byte for byte. Empty components match nothing, not even a record whose
// stored name is empty: such a record has no path.
#include <cstring>

#include "archive/archive_fs.h"
#include "archive_table.h"
#include "fs/filesystem.h"
#include "support/text.h"

// A path that fits 512 bytes has at most this many components ("/a/a/...").
static constexpr uint32_t ARCHIVE_MAX_COMPONENTS = FS_PATH_SIZE / 2;

// Cuts a private copy of the absolute path into components; false when the
// path does not fit.
static bool split_path(const char* path, char* copy, char** parts, uint32_t* count) {
    size_t length = strlen(path);
    if (length >= FS_PATH_SIZE) {
        return false;
    }
    memcpy(copy, path, length + 1);
    char* rest = copy[0] == '/' ? copy + 1 : copy;
    *count = *rest ? split_text(rest, '/', parts, ARCHIVE_MAX_COMPONENTS) : 0;
    return true;
}

static uint32_t find_child(const ArchiveTable* table, uint32_t dir, const char* name) {
    if (name[0] == '\0') {
        return 0;
    }
    if (table->index.dirs) {
        return archive_index_find_dir(table, dir, name);
    }
    for (uint32_t c = archive_dir(table, dir).first_child; c != 0;) {
        Epk2DirRecord record = archive_dir(table, c);
        if (strcmp(archive_name(table, record.name_offset), name) == 0) {
            return c;
        }
        c = record.next_sibling;
    }
    return 0;
}

static uint32_t walk_dirs(const ArchiveTable* table, char** parts, uint32_t count) {
    uint32_t dir = 1;
    for (uint32_t i = 0; i < count && dir != 0; ++i) {
        dir = find_child(table, dir, parts[i]);
    }
    return dir;
}

uint32_t archive_find_dir(const ArchiveTable* table, const char* path) {
    char copy[FS_PATH_SIZE];
    char* parts[ARCHIVE_MAX_COMPONENTS];
    uint32_t count;
    if (!split_path(path, copy, parts, &count)) {
        return 0;
    }
    return walk_dirs(table, parts, count);
}

uint32_t archive_find_file(const ArchiveTable* table, const char* path) {
    char copy[FS_PATH_SIZE];
    char* parts[ARCHIVE_MAX_COMPONENTS];
    uint32_t count;
    if (!split_path(path, copy, parts, &count) || count == 0) {
        return 0;
    }
    uint32_t dir = walk_dirs(table, parts, count - 1);
    if (dir == 0) {
        return 0;
    }
    const char* name = parts[count - 1];
    if (name[0] == '\0') {
        return 0;
    }
    if (table->index.files) {
        return archive_index_find_file(table, dir, name);
    }
    for (uint32_t f = archive_dir(table, dir).first_file; f != 0;) {
        Epk2FileRecord record = archive_file(table, f);
        if (strcmp(archive_name(table, record.name_offset), name) == 0) {
            return f;
        }
        f = record.next_file;
    }
    return 0;
}

bool archive_path_has_empty_name(const char* path) {
    // Enumeration never reports the root, so "/" is a top-level record
    // whose name is empty.
    size_t length = strlen(path);
    return length > 0 && (path[length - 1] == '/' || strstr(path, "//") != nullptr);
}
