// The descrambled table of an opened archive and the routines that read,
// check and walk it. Private to the archive reader (lib/archive).
//
// Records are reached by 1-based index and copied out, so the table copy
// needs no alignment and holds no pointers; every index and name offset has
// been checked by archive_table_validate before any walk relies on it.
#pragma once

#include <cstdint>
#include <cstring>

#include "archive/epk2_format.h"
#include "fs/filesystem.h"

struct Allocator;
struct Stream;

// One slot of a lookup index: a record and the directory whose chain holds
// it; record 0 marks an empty slot.
struct ArchiveIndexSlot {
    uint32_t record;
    uint32_t parent;
};

// Hash indexes of the names in each directory, so that finding a name does
// not walk all its siblings. Null slots: lookups scan the chains instead.
struct ArchiveIndex {
    ArchiveIndexSlot* dirs;
    uint32_t dir_mask; // slot count - 1 (a power of two)
    ArchiveIndexSlot* files;
    uint32_t file_mask;
};

struct ArchiveTable {
    const unsigned char* bytes; // the table region, descrambled
    uint32_t size;              // table_end - 32
    uint32_t dir_count;
    uint32_t file_count;
    ArchiveIndex index;
};

inline Epk2DirRecord archive_dir(const ArchiveTable* table, uint32_t index) {
    Epk2DirRecord record;
    memcpy(&record, table->bytes + (index - 1) * EPK2_DIR_RECORD_SIZE, sizeof record);
    return record;
}

inline Epk2FileRecord archive_file(const ArchiveTable* table, uint32_t index) {
    Epk2FileRecord record;
    memcpy(&record,
           table->bytes + table->dir_count * EPK2_DIR_RECORD_SIZE +
               (index - 1) * EPK2_FILE_RECORD_SIZE,
           sizeof record);
    return record;
}

inline const char* archive_name(const ArchiveTable* table, uint32_t name_offset) {
    return reinterpret_cast<const char*>(table->bytes + name_offset);
}

// The descrambled table of an opened archive and the archive's size in
// bytes; null when fs is not an archive. For checks that look deeper than
// opening does.
const ArchiveTable* archive_fs_table(FileSystem* fs, uint32_t* archive_size);

// Reads the 32-byte header from the stream's start and checks it against the
// size of the whole archive. Reports why and returns false when unusable.
bool archive_read_header(Stream* stream, uint32_t archive_size, Epk2Header* header);

// Reads table_end - 32 bytes from offset 32 through the key 1 descrambler
// into table. Reports and returns false on a short read.
bool archive_read_table(Stream* stream, const Epk2Header* header, unsigned char* table,
                        Allocator* allocator);

// Checks every index, every name reached from the root, the shape of the
// tree, the path lengths and the data windows. Scratch memory comes from
// allocator and is bounded by the table size. Reports and returns false when
// the table cannot be trusted.
bool archive_table_validate(const ArchiveTable* table, uint32_t archive_size, Allocator* allocator);

// Bytes of memory the index of a table with these counts takes: at most 32
// bytes per record, so it stays in proportion to the table.
uint64_t archive_index_bytes(uint32_t dir_count, uint32_t file_count);
// Builds the index into memory (archive_index_bytes long) from the records
// reachable from the root, in chain order: of equal names in one directory
// the first is kept, as a scan finds it. The table must be validated;
// scratch comes from allocator. False (and no index) when out of memory.
bool archive_index_build(ArchiveTable* table, void* memory, Allocator* allocator);

// The record of that name in the chain of directory parent; 0 when none.
// Only with an index built.
uint32_t archive_index_find_dir(const ArchiveTable* table, uint32_t parent, const char* name);
uint32_t archive_index_find_file(const ArchiveTable* table, uint32_t parent, const char* name);

// Path lookup on a validated table. path is absolute ("/" first) and shorter
// than FS_PATH_SIZE. Return the 1-based index, 0 when not found.
uint32_t archive_find_dir(const ArchiveTable* table, const char* path);
uint32_t archive_find_file(const ArchiveTable* table, const char* path);

// Reports the contents of directory dir to callback: depth-first, at each
// level the subdirectories (each followed by its contents when recursive)
// and then the files. entry->name holds the starting name, which is extended
// and cut back in place; entries whose name would not fit are left out.
// When file_index is not null it holds, during each file's callback, that
// file's record index (0 during a directory's).
void archive_walk(const ArchiveTable* table, uint32_t dir, DirEntry* entry, int recursive,
                  void* context, FileSystem* fs, EnumCallback callback,
                  uint32_t* file_index = nullptr);
