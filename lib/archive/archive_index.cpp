// The name index of an opened archive: one open-addressing hash table for
// directories and one for files, keyed by (the directory whose chain holds
// the record, name). Built once when the archive opens, in the order a scan
// of each chain meets the records, so a lookup finds exactly what the scan
// would, in constant time instead of one comparison per sibling.
#include <cstring>

#include "archive_table.h"
#include "support/memory.h"

namespace {

uint32_t index_slot_count(uint32_t records) {
    uint32_t slots = 2;
    while (slots < uint64_t(records) * 2) {
        slots <<= 1;
    }
    return slots;
}

uint32_t index_hash(uint32_t parent, const char* name) {
    uint32_t hash = 2166136261u ^ (parent * 0x9E3779B1u);
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
        hash = (hash ^ *p) * 16777619u;
    }
    return hash ^ (hash >> 15);
}

const char* dir_name(const ArchiveTable* table, uint32_t index) {
    return archive_name(table, archive_dir(table, index).name_offset);
}

const char* file_name(const ArchiveTable* table, uint32_t index) {
    return archive_name(table, archive_file(table, index).name_offset);
}

typedef const char* (*RecordName)(const ArchiveTable*, uint32_t);

// The slot holding (parent, name), or the empty slot where it would go.
ArchiveIndexSlot* index_probe(const ArchiveTable* table, ArchiveIndexSlot* slots, uint32_t mask,
                              RecordName name_of, uint32_t parent, const char* name) {
    for (uint32_t i = index_hash(parent, name) & mask;; i = (i + 1) & mask) {
        ArchiveIndexSlot* slot = &slots[i];
        if (slot->record == 0 ||
            (slot->parent == parent && strcmp(name_of(table, slot->record), name) == 0)) {
            return slot;
        }
    }
}

void index_insert(const ArchiveTable* table, ArchiveIndexSlot* slots, uint32_t mask,
                  RecordName name_of, uint32_t parent, uint32_t record) {
    ArchiveIndexSlot* slot =
        index_probe(table, slots, mask, name_of, parent, name_of(table, record));
    if (slot->record == 0) { // an equal name met earlier in the chain wins
        *slot = {record, parent};
    }
}

} // namespace

uint64_t archive_index_bytes(uint32_t dir_count, uint32_t file_count) {
    return (uint64_t(index_slot_count(dir_count)) + index_slot_count(file_count)) *
           sizeof(ArchiveIndexSlot);
}

bool archive_index_build(ArchiveTable* table, void* memory, Allocator* allocator) {
    table->index = {};
    // Every reachable directory is visited once (the validated tree has no
    // loops), so the stack never holds more than dir_count entries.
    auto* stack =
        static_cast<uint32_t*>(mem_alloc(allocator, table->dir_count * sizeof(uint32_t), 0));
    if (!stack) {
        return false;
    }
    uint32_t dir_slots = index_slot_count(table->dir_count);
    ArchiveIndex index;
    index.dirs = static_cast<ArchiveIndexSlot*>(memory);
    index.dir_mask = dir_slots - 1;
    index.files = index.dirs + dir_slots;
    index.file_mask = index_slot_count(table->file_count) - 1;
    memset(memory, 0,
           static_cast<size_t>(archive_index_bytes(table->dir_count, table->file_count)));

    uint32_t depth = 0;
    stack[depth++] = 1;
    while (depth > 0) {
        uint32_t dir = stack[--depth];
        Epk2DirRecord record = archive_dir(table, dir);
        for (uint32_t child = record.first_child; child != 0;) {
            index_insert(table, index.dirs, index.dir_mask, dir_name, dir, child);
            if (depth < table->dir_count) {
                stack[depth++] = child;
            }
            child = archive_dir(table, child).next_sibling;
        }
        for (uint32_t file = record.first_file; file != 0;) {
            index_insert(table, index.files, index.file_mask, file_name, dir, file);
            file = archive_file(table, file).next_file;
        }
    }
    mem_free(stack);
    table->index = index;
    return true;
}

uint32_t archive_index_find_dir(const ArchiveTable* table, uint32_t parent, const char* name) {
    const ArchiveIndex& index = table->index;
    return index_probe(table, index.dirs, index.dir_mask, dir_name, parent, name)->record;
}

uint32_t archive_index_find_file(const ArchiveTable* table, uint32_t parent, const char* name) {
    const ArchiveIndex& index = table->index;
    return index_probe(table, index.files, index.file_mask, file_name, parent, name)->record;
}
