// The archive file system: an opened EPK2 archive seen as a read-only tree.
// The object and the descrambled table share one allocation. An archive on
// disk stays open from archive_open to the last entry stream: everything is
// read through the handle whose header and table were checked, so swapping
// or rewriting the file by name later cannot change what the entries give.
// (An archive inside another file system reopens its parent entry instead.)
#include <cstring>

#include "archive/archive_fs.h"
#include "archive_table.h"
#include "stream/file_handles.h"
#include "stream/stream.h"
#include "support/memory.h"
#include "support/messages.h"

struct ArchiveFileSystem {
    FileSystemHeader header;
    const unsigned char* memory_base; // the caller's bytes; null for an archive file
    SharedFile* file;                 // the archive file held open; null otherwise
    uint32_t archive_size;            // bytes of the whole archive when it was opened
    uint32_t table_end;
    ArchiveTable table; // bytes point just behind this record
};

static int archive_fs_close(FileSystem* fs);
static Stream* archive_fs_open(FileSystem* fs, const char* path, uint32_t offset, uint32_t length,
                               uint32_t flags, Allocator* allocator);
static int archive_fs_enumerate(FileSystem* fs, const char* path, int recursive, void* context,
                                EnumCallback callback);

// An archive cannot make or remove directories.
static const FileSystemOps archive_fs_ops =
    fs_read_only_ops(archive_fs_close, archive_fs_open, archive_fs_enumerate);

// Read with size 0, never written: the backing of empty entries.
static unsigned char archive_empty_entry[1];

static ArchiveFileSystem* as_archive(FileSystem* fs) {
    return reinterpret_cast<ArchiveFileSystem*>(fs);
}

// Parses and checks the archive in stream, which holds archive_size bytes.
static ArchiveFileSystem* archive_load(Stream* stream, uint32_t archive_size,
                                       Allocator* allocator) {
    Epk2Header header;
    if (!archive_read_header(stream, archive_size, &header)) {
        return nullptr;
    }
    // table_end is at most archive_size, which is below 2 GiB: no overflow.
    // The name index follows the table in the same block, 4-byte aligned;
    // it takes at most 32 bytes per record, which the table's own size
    // already vouches for.
    uint32_t table_size = header.table_end - EPK2_HEADER_SIZE;
    uint64_t index_at = (uint64_t(sizeof(ArchiveFileSystem)) + table_size + 3) & ~uint64_t(3);
    uint64_t total = index_at + archive_index_bytes(header.dir_count, header.file_count);
    auto* archive = total < 0x80000000u
                        ? static_cast<ArchiveFileSystem*>(mem_alloc(allocator, uint32_t(total), 0))
                        : nullptr;
    if (!archive) {
        report_reason(ERROR_REASON_OUT_OF_MEMORY, "Out of memory opening an EPK2 archive.");
        return nullptr;
    }
    memset(archive, 0, sizeof *archive);
    unsigned char* table = reinterpret_cast<unsigned char*>(archive + 1);
    archive->header.ops = &archive_fs_ops;
    archive->table_end = header.table_end;
    archive->archive_size = archive_size;
    archive->table = {table, table_size, header.dir_count, header.file_count, {}};
    if (!archive_read_table(stream, &header, table, allocator) ||
        !archive_table_validate(&archive->table, archive_size, allocator)) {
        mem_free(archive);
        return nullptr;
    }
    if (!archive_index_build(&archive->table, reinterpret_cast<unsigned char*>(archive) + index_at,
                             allocator)) {
        report_reason(ERROR_REASON_OUT_OF_MEMORY, "Out of memory opening an EPK2 archive.");
        mem_free(archive);
        return nullptr;
    }
    return archive;
}

// archive_load over a stream made for it, which is closed afterwards; a
// stream that could not be made is memory that ran out.
static ArchiveFileSystem* archive_load_stream(Stream* stream, uint32_t size, Allocator* allocator) {
    if (!stream) {
        report_reason(ERROR_REASON_OUT_OF_MEMORY, "Out of memory opening an EPK2 archive.");
        return nullptr;
    }
    ArchiveFileSystem* archive = archive_load(stream, size, allocator);
    stream_close(stream);
    return archive;
}

// Reads the archive through the shared file that the archive then keeps.
static FileSystem* archive_open_file(SharedFile* file, const char* path, Allocator* allocator) {
    if (shared_file_too_large(file)) {
        report_reason(ERROR_REASON_UNSUPPORTED, "EPK2 archive \"%s\" is too large.", path);
        return nullptr;
    }
    uint32_t size = shared_file_size(file);
    ArchiveFileSystem* archive =
        archive_load_stream(stream_open_shared(file, 0, size, allocator), size, allocator);
    if (!archive) {
        return nullptr;
    }
    shared_file_retain(file);
    archive->file = file;
    strcpy(archive->header.root_path, path);
    return reinterpret_cast<FileSystem*>(archive);
}

FileSystem* archive_open_shared(SharedFile* file, const char* path, Allocator* allocator) {
    if (!file || !path || strlen(path) >= FS_PATH_SIZE) {
        return nullptr;
    }
    return archive_open_file(file, path, allocator);
}

const ArchiveTable* archive_fs_table(FileSystem* fs, uint32_t* archive_size) {
    if (!archive_is_archive(fs)) {
        return nullptr;
    }
    if (archive_size) {
        *archive_size = as_archive(fs)->archive_size;
    }
    return &as_archive(fs)->table;
}

SharedFile* archive_shared_file(FileSystem* fs) {
    return archive_is_archive(fs) ? as_archive(fs)->file : nullptr;
}

bool archive_file_changed(FileSystem* fs) {
    return archive_is_archive(fs) && as_archive(fs)->file &&
           shared_file_changed(as_archive(fs)->file);
}

FileSystem* archive_open(FileSystem* parent, const char* path, Allocator* allocator) {
    error_reason_clear();
    if (!path) {
        error_reason_set(ERROR_REASON_NOT_FOUND);
        return nullptr;
    }
    if (!parent) {
        if (strlen(path) >= FS_PATH_SIZE) {
            report_reason(ERROR_REASON_UNSUPPORTED, "EPK2 archive path is too long.");
            return nullptr;
        }
        SharedFile* file = shared_file_open(path, allocator);
        if (!file) {
            // The operating system's reason stays for the caller to tell.
            int code = platform_error_code();
            report_reason(platform_file_exists(path) ? ERROR_REASON_IO_ERROR
                                                     : ERROR_REASON_NOT_FOUND,
                          "Failed to Open \"%s\".", path);
            platform_error_restore(code);
            return nullptr;
        }
        FileSystem* archive = archive_open_file(file, path, allocator);
        shared_file_release(file);
        return archive;
    }
    // Entries reopen the archive by this path, so it must be kept whole.
    if (strlen(path) >= FS_PATH_SIZE) {
        report_reason(ERROR_REASON_UNSUPPORTED, "EPK2 archive path is too long.");
        return nullptr;
    }
    Stream* stream = fs_open(parent, path, 0, 0, STREAM_OPEN_READ, allocator);
    if (!stream) {
        report_reason(ERROR_REASON_NOT_FOUND, "Failed to Open \"%s\".", path);
        return nullptr;
    }
    ArchiveFileSystem* archive = archive_load(stream, stream_size(stream), allocator);
    stream_close(stream);
    if (!archive) {
        return nullptr;
    }
    archive->header.parent = parent;
    strcpy(archive->header.root_path, path);
    return reinterpret_cast<FileSystem*>(archive);
}

FileSystem* archive_open_memory(const void* buffer, uint32_t size, Allocator* allocator) {
    error_reason_clear();
    if (!buffer) {
        report_reason(ERROR_REASON_NOT_ARCHIVE, "Not EPK2 format.");
        return nullptr;
    }
    // Only read through: the memory stream never writes unless asked to.
    ArchiveFileSystem* archive =
        archive_load_stream(stream_open_memory(const_cast<void*>(buffer), size, STREAM_OPEN_READ,
                                               STREAM_BORROWS, allocator),
                            size, allocator);
    if (!archive) {
        return nullptr;
    }
    archive->memory_base = static_cast<const unsigned char*>(buffer);
    return reinterpret_cast<FileSystem*>(archive);
}

static int archive_fs_close(FileSystem* fs) {
    shared_file_release(as_archive(fs)->file); // entry streams may keep it a while
    mem_free(fs);
    return 1;
}

static uint32_t find_file(ArchiveFileSystem* archive, const char* path) {
    char full[FS_PATH_SIZE];
    if (!path ||
        !fs_resolve_path(reinterpret_cast<FileSystem*>(archive), full, sizeof full, path)) {
        return 0;
    }
    return archive_find_file(&archive->table, full);
}

// The stored bytes of a record, as they lie in the archive. A disk window of
// length 0 would run to the end of the file, so empty entries get an empty
// memory stream instead.
static Stream* open_stored(ArchiveFileSystem* archive, const Epk2FileRecord* record, uint32_t flags,
                           Allocator* allocator) {
    if (record->stored_size == 0) {
        return stream_open_memory(archive_empty_entry, 0, flags, STREAM_BORROWS, allocator);
    }
    if (archive->memory_base) {
        // Validated at open: the window lies inside the caller's buffer.
        return stream_open_memory(const_cast<unsigned char*>(archive->memory_base) +
                                      record->data_offset,
                                  record->stored_size, flags, STREAM_BORROWS, allocator);
    }
    if (archive->file) {
        return stream_open_shared(archive->file, record->data_offset, record->stored_size,
                                  allocator);
    }
    return fs_open(archive->header.parent, archive->header.root_path, record->data_offset,
                   record->stored_size, flags, allocator);
}

// The chain that serves a record's content: stored bytes, descrambled,
// inflated.
static Stream* open_record(ArchiveFileSystem* archive, const Epk2FileRecord& record, uint32_t flags,
                           Allocator* allocator) {
    Stream* stream = open_stored(archive, &record, flags, allocator);
    if (stream && record.key != 0) {
        Stream* descrambled = stream_open_scramble(stream, epk2_key(record.key), EPK2_KEY_LENGTH,
                                                   EPK2_SCRAMBLE_LIMIT, allocator);
        if (!descrambled) {
            stream_close(stream);
        }
        stream = descrambled;
    }
    if (stream && record.stored_size != record.size) {
        Stream* inflated = stream_open_entry(stream, record.size, ENTRY_MODE_INFLATE, allocator);
        if (!inflated) {
            stream_close(stream);
        }
        stream = inflated;
    }
    return stream;
}

static Stream* archive_fs_open(FileSystem* fs, const char* path, uint32_t offset, uint32_t length,
                               uint32_t flags, Allocator* allocator) {
    ArchiveFileSystem* archive = as_archive(fs);
    uint32_t index = find_file(archive, path);
    if (index == 0) {
        report_reason(ERROR_REASON_NOT_FOUND, "Failed to open \"%s\"", path ? path : "");
        return nullptr;
    }
    // Opening the archive file for writing would truncate it.
    if (flags & STREAM_OPEN_WRITE) {
        report_reason(ERROR_REASON_UNSUPPORTED, "EPK2 entries are read-only: \"%s\"", path);
        return nullptr;
    }
    Epk2FileRecord record = archive_file(&archive->table, index);
    // A window of the content, as a disk file gives one: length 0 (or one
    // past the end) runs to the end. Compressed data cannot be entered in
    // the middle, so a window there must start at 0.
    const bool compressed = record.stored_size != record.size;
    if (offset > record.size || (compressed && offset != 0)) {
        report_reason(compressed ? ERROR_REASON_UNSUPPORTED : ERROR_REASON_DAMAGED,
                      compressed ? "EPK2 entry \"%s\" is compressed and cannot be read from %u."
                                 : "EPK2 entry \"%s\" ends before offset %u.",
                      path, offset);
        return nullptr;
    }
    const uint32_t rest = record.size - offset;
    const uint32_t window = length != 0 && length <= rest ? length : rest;
    Stream* stream = open_record(archive, record, flags, allocator);
    if (!stream || (offset == 0 && window == record.size)) {
        return stream;
    }
    Stream* range =
        stream_open_range(stream, STREAM_OWNS, offset, window, STREAM_OPEN_READ, allocator);
    if (!range) {
        stream_close(stream);
        report_reason(ERROR_REASON_OUT_OF_MEMORY, "Out of memory opening \"%s\".", path);
    }
    return range;
}

static int archive_walk_path(FileSystem* fs, const char* path, int recursive, void* context,
                             EnumCallback callback, uint32_t* file_index) {
    ArchiveFileSystem* archive = as_archive(fs);
    char full[FS_PATH_SIZE];
    if (!path || !fs_resolve_path(fs, full, sizeof full, path)) {
        return 0;
    }
    uint32_t dir = archive_find_dir(&archive->table, full);
    if (dir == 0) {
        return 0;
    }
    if (!callback) {
        return 1;
    }
    // Names start with the caller's path as given; a relative one is only
    // widened when a current directory makes it differ from the full path.
    DirEntry entry;
    memset(&entry, 0, sizeof entry);
    const char* start = (path[0] == '/' || archive->header.current_dir[0]) ? full : path;
    strcpy(entry.name, start); // not longer than full
    archive_walk(&archive->table, dir, &entry, recursive, context, fs, callback, file_index);
    return 1;
}

static int archive_fs_enumerate(FileSystem* fs, const char* path, int recursive, void* context,
                                EnumCallback callback) {
    return archive_walk_path(fs, path, recursive, context, callback, nullptr);
}

namespace {
struct RecordWalk {
    ArchiveFileSystem* archive;
    uint32_t file_index;
    void* context;
    ArchiveRecordCallback callback;
};

void fill_info(const Epk2FileRecord& record, ArchiveEntryInfo* info) {
    info->data_offset = record.data_offset;
    info->stored_size = record.stored_size;
    info->size = record.size;
    info->key = record.key;
    info->attributes = record.attributes;
}

void fill_info_at(const ArchiveTable* table, uint32_t index, ArchiveEntryInfo* info) {
    fill_info(archive_file(table, index), info);
    info->file_index = index;
}

int forward_record(void* context, FileSystem*, DirEntry* entry) {
    auto* walk = static_cast<RecordWalk*>(context);
    if (walk->file_index == 0) {
        walk->callback(walk->context, entry, nullptr);
        return 1;
    }
    ArchiveEntryInfo info;
    fill_info_at(&walk->archive->table, walk->file_index, &info);
    walk->callback(walk->context, entry, &info);
    return 1;
}
} // namespace

// Only records of this archive are served: the one at the index the walk
// handed out must still say what the caller holds.
static bool record_of(FileSystem* fs, const ArchiveEntryInfo* info, Epk2FileRecord* record) {
    if (!archive_is_archive(fs) || !info) {
        return false;
    }
    ArchiveFileSystem* archive = as_archive(fs);
    if (info->file_index == 0 || info->file_index > archive->table.file_count) {
        return false;
    }
    *record = archive_file(&archive->table, info->file_index);
    return record->data_offset == info->data_offset && record->stored_size == info->stored_size &&
           record->size == info->size && record->key == info->key;
}

Stream* archive_open_entry_at(FileSystem* fs, const ArchiveEntryInfo* info, Allocator* allocator) {
    Epk2FileRecord record;
    if (!record_of(fs, info, &record)) {
        return nullptr;
    }
    return open_record(as_archive(fs), record, STREAM_OPEN_READ, allocator);
}

Stream* archive_open_stored_at(FileSystem* fs, const ArchiveEntryInfo* info, Allocator* allocator) {
    Epk2FileRecord record;
    if (!record_of(fs, info, &record)) {
        return nullptr;
    }
    return open_stored(as_archive(fs), &record, STREAM_OPEN_READ, allocator);
}

int archive_enumerate_records(FileSystem* fs, const char* path, int recursive, void* context,
                              ArchiveRecordCallback callback) {
    if (!archive_is_archive(fs) || !callback) {
        return 0;
    }
    RecordWalk walk{as_archive(fs), 0, context, callback};
    return archive_walk_path(fs, path, recursive, &walk, forward_record, &walk.file_index);
}

bool archive_is_archive(FileSystem* fs) {
    return fs && fs->header.ops == &archive_fs_ops;
}

bool archive_entry_info(FileSystem* fs, const char* path, ArchiveEntryInfo* info) {
    if (!archive_is_archive(fs)) {
        return false;
    }
    ArchiveFileSystem* archive = as_archive(fs);
    uint32_t index = find_file(archive, path);
    if (index == 0) {
        return false;
    }
    fill_info_at(&archive->table, index, info);
    return true;
}

bool archive_header_info(FileSystem* fs, ArchiveHeaderInfo* info) {
    if (!archive_is_archive(fs)) {
        return false;
    }
    ArchiveFileSystem* archive = as_archive(fs);
    info->table_end = archive->table_end;
    info->dir_count = archive->table.dir_count;
    info->file_count = archive->table.file_count;
    return true;
}

Stream* archive_open_stored(FileSystem* fs, const char* path, Allocator* allocator) {
    if (!archive_is_archive(fs)) {
        return nullptr;
    }
    ArchiveFileSystem* archive = as_archive(fs);
    uint32_t index = find_file(archive, path);
    if (index == 0) {
        report_reason(ERROR_REASON_NOT_FOUND, "Failed to open \"%s\"", path ? path : "");
        return nullptr;
    }
    Epk2FileRecord record = archive_file(&archive->table, index);
    return open_stored(archive, &record, STREAM_OPEN_READ, allocator);
}
