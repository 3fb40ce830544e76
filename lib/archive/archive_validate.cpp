// Checks a descrambled table before anything walks it: lookups and
// enumeration then follow links without further tests and cannot leave the
// table copy, loop, or overflow a 512-byte path.
#include "archive_table.h"
#include "fs/filesystem.h"
#include "support/memory.h"
#include "support/messages.h"

namespace {

struct WalkFrame {
    uint32_t dir;
    uint32_t path_length; // of the directory's absolute path, 0 for the root
};

struct Scratch {
    WalkFrame* stack;
    unsigned char* seen_dirs;  // indexed 1..dir_count
    unsigned char* seen_files; // indexed 1..file_count
};

} // namespace

static bool check_indices(const ArchiveTable* table) {
    for (uint32_t i = 1; i <= table->dir_count; ++i) {
        Epk2DirRecord d = archive_dir(table, i);
        if (d.parent > table->dir_count || d.first_child > table->dir_count ||
            d.prev_sibling > table->dir_count || d.next_sibling > table->dir_count ||
            d.first_file > table->file_count) {
            report_reason(ERROR_REASON_DAMAGED,
                          "EPK2 directory %u links to a record beyond the table.", i);
            return false;
        }
    }
    for (uint32_t i = 1; i <= table->file_count; ++i) {
        Epk2FileRecord f = archive_file(table, i);
        if (f.prev_file > table->file_count || f.next_file > table->file_count) {
            report_reason(ERROR_REASON_DAMAGED, "EPK2 file %u links to a record beyond the table.",
                          i);
            return false;
        }
    }
    return true;
}

// A usable name is one path component, NUL-terminated inside the table
// copy. It may be empty: writers that cut names at a backslash byte leave
// the names of files ending in a double-byte character with the trail byte
// 0x5C empty. No path finds such a record, but the rest of the archive
// reads. Returns false after reporting.
static bool check_name(const ArchiveTable* table, uint32_t name_offset, const char* kind,
                       uint32_t index, uint32_t* length) {
    if (name_offset >= table->size) {
        report_reason(ERROR_REASON_DAMAGED, "EPK2 %s %u has its name outside the table.", kind,
                      index);
        return false;
    }
    const unsigned char* name = table->bytes + name_offset;
    const void* end = memchr(name, 0, table->size - name_offset);
    if (!end) {
        report_reason(ERROR_REASON_DAMAGED, "EPK2 %s %u has a name that runs past the table.", kind,
                      index);
        return false;
    }
    *length = uint32_t(static_cast<const unsigned char*>(end) - name);
    if (memchr(name, '/', *length)) {
        report_reason(ERROR_REASON_DAMAGED, "EPK2 %s %u has a name containing \"/\".", kind, index);
        return false;
    }
    return true;
}

// Path length of a child: parent's path, "/", name; it must leave room for
// the NUL of a 512-byte DirEntry name.
static bool check_path_length(uint32_t parent_length, uint32_t name_length, const char* kind,
                              uint32_t index, uint32_t* length) {
    *length = parent_length + 1 + name_length;
    if (*length >= FS_PATH_SIZE) {
        report_reason(ERROR_REASON_DAMAGED, "EPK2 %s %u lies too deep or too long for a path.",
                      kind, index);
        return false;
    }
    return true;
}

static bool check_file(const ArchiveTable* table, uint32_t index, uint32_t archive_size) {
    Epk2FileRecord f = archive_file(table, index);
    if (f.key > EPK2_KEY_COUNT) {
        report_reason(ERROR_REASON_DAMAGED, "EPK2 file %u uses unknown key %u.", index,
                      unsigned(f.key));
        return false;
    }
    // An empty entry reads nothing, wherever its offset points.
    if (f.stored_size != 0 && uint64_t(f.data_offset) + f.stored_size > archive_size) {
        report_reason(ERROR_REASON_DAMAGED,
                      "EPK2 file %u has its data beyond the end of the archive.", index);
        return false;
    }
    return true;
}

// Walks the tree from the root with an explicit stack. Every directory and
// file may be reached once only, which rules out loops, shared nodes and
// links back up the tree.
static bool walk_tree(const ArchiveTable* table, uint32_t archive_size, Scratch* scratch) {
    uint32_t depth = 0;
    scratch->stack[depth++] = {1, 0};
    scratch->seen_dirs[1] = 1;
    while (depth > 0) {
        WalkFrame frame = scratch->stack[--depth];
        Epk2DirRecord dir = archive_dir(table, frame.dir);

        for (uint32_t c = dir.first_child; c != 0; c = archive_dir(table, c).next_sibling) {
            if (scratch->seen_dirs[c]) {
                report_reason(ERROR_REASON_DAMAGED,
                              "EPK2 directory %u is linked into the tree more than once.", c);
                return false;
            }
            scratch->seen_dirs[c] = 1;
            uint32_t name_length;
            uint32_t length;
            if (!check_name(table, archive_dir(table, c).name_offset, "directory", c,
                            &name_length) ||
                !check_path_length(frame.path_length, name_length, "directory", c, &length)) {
                return false;
            }
            // Each directory is pushed once, so dir_count frames suffice.
            scratch->stack[depth++] = {c, length};
        }

        for (uint32_t f = dir.first_file; f != 0; f = archive_file(table, f).next_file) {
            if (scratch->seen_files[f]) {
                report_reason(ERROR_REASON_DAMAGED,
                              "EPK2 file %u is linked into the tree more than once.", f);
                return false;
            }
            scratch->seen_files[f] = 1;
            uint32_t name_length;
            uint32_t length;
            if (!check_name(table, archive_file(table, f).name_offset, "file", f, &name_length) ||
                !check_path_length(frame.path_length, name_length, "file", f, &length) ||
                !check_file(table, f, archive_size)) {
                return false;
            }
        }
    }
    return true;
}

bool archive_table_validate(const ArchiveTable* table, uint32_t archive_size,
                            Allocator* allocator) {
    if (!check_indices(table)) {
        return false;
    }
    // The counts are bounded by the table size, so this stays well below it.
    uint64_t stack_bytes = uint64_t(table->dir_count) * sizeof(WalkFrame);
    uint64_t total = stack_bytes + uint64_t(table->dir_count) + table->file_count + 2;
    if (total > 0x7FFFFFFFu) {
        report_reason(ERROR_REASON_DAMAGED, "EPK2 table is too large to check.");
        return false;
    }
    unsigned char* block =
        static_cast<unsigned char*>(mem_alloc(allocator, uint32_t(total), alignof(WalkFrame)));
    if (!block) {
        report_reason(ERROR_REASON_OUT_OF_MEMORY, "Out of memory checking the EPK2 table.");
        return false;
    }
    memset(block + stack_bytes, 0, size_t(total - stack_bytes));
    Scratch scratch;
    scratch.stack = reinterpret_cast<WalkFrame*>(block);
    scratch.seen_dirs = block + stack_bytes;
    scratch.seen_files = scratch.seen_dirs + table->dir_count + 1;
    bool ok = walk_tree(table, archive_size, &scratch);
    mem_free(block);
    return ok;
}
