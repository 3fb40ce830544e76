// Enumeration of a validated table. The walk keeps its own fixed stack: a
// validated path is shorter than 512 bytes, so no tree is deeper than
// ARCHIVE_MAX_DEPTH, and a damaged one cannot exhaust the machine stack.
#include <cstring>

#include "archive_table.h"

static constexpr uint32_t ARCHIVE_MAX_DEPTH = FS_PATH_SIZE / 2;

namespace {
struct EnumFrame {
    uint32_t dir;
    uint32_t next_child; // the subdirectory to report next, 0 when done
    uint32_t length;     // length of the directory's name in the entry
};
} // namespace

// Appends "/" (unless the walk started at "/" and this is its first level)
// and the component. An empty stored name gives a path that ends in "/" or
// holds "//" (a top-level one is "/" itself), so nothing below it can pass
// for an entry of the folder above. Returns the new length, or 0 when it
// would not fit.
static uint32_t append_name(DirEntry* entry, uint32_t length, const char* name, bool separator) {
    size_t name_length = strlen(name);
    size_t total = length + (separator ? 1 : 0) + name_length;
    if (total >= FS_PATH_SIZE) {
        return 0;
    }
    char* out = entry->name + length;
    if (separator) {
        *out++ = '/';
    }
    memcpy(out, name, name_length + 1);
    return uint32_t(total);
}

static void report_files(const ArchiveTable* table, uint32_t dir, DirEntry* entry, uint32_t length,
                         bool separator, void* context, FileSystem* fs, EnumCallback callback,
                         uint32_t* file_index) {
    for (uint32_t f = archive_dir(table, dir).first_file; f != 0;) {
        Epk2FileRecord record = archive_file(table, f);
        if (append_name(entry, length, archive_name(table, record.name_offset), separator)) {
            entry->size = record.size;
            // The stored byte is passed on, except the directory bit: a file
            // record is never a directory, and callers that trusted the bit
            // would drop the file's content.
            entry->attributes = record.attributes & ~DIRENTRY_DIRECTORY;
            if (file_index) {
                *file_index = f;
            }
            callback(context, fs, entry);
            entry->name[length] = 0;
        }
        f = record.next_file;
    }
}

void archive_walk(const ArchiveTable* table, uint32_t dir, DirEntry* entry, int recursive,
                  void* context, FileSystem* fs, EnumCallback callback, uint32_t* file_index) {
    EnumFrame frames[ARCHIVE_MAX_DEPTH];
    uint32_t depth = 0;
    uint32_t start_length = uint32_t(strnlen(entry->name, FS_PATH_SIZE - 1));
    entry->name[start_length] = 0;
    const bool from_root = start_length == 1 && entry->name[0] == '/';
    frames[depth++] = {dir, archive_dir(table, dir).first_child, start_length};

    while (depth > 0) {
        EnumFrame* top = &frames[depth - 1];
        if (top->next_child != 0) {
            uint32_t child = top->next_child;
            Epk2DirRecord record = archive_dir(table, child);
            top->next_child = record.next_sibling;
            uint32_t length =
                append_name(entry, top->length, archive_name(table, record.name_offset),
                            !(from_root && depth == 1));
            if (length == 0) {
                continue;
            }
            entry->size = 0;
            entry->attributes = DIRENTRY_DIRECTORY;
            if (file_index) {
                *file_index = 0;
            }
            callback(context, fs, entry);
            if (recursive && depth < ARCHIVE_MAX_DEPTH) {
                frames[depth++] = {child, record.first_child, length};
            } else {
                entry->name[top->length] = 0;
            }
            continue;
        }
        report_files(table, top->dir, entry, top->length, !(from_root && depth == 1), context, fs,
                     callback, file_index);
        --depth;
        if (depth > 0) {
            entry->name[frames[depth - 1].length] = 0;
        }
    }
    entry->name[start_length] = 0;
}
