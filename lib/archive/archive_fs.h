// The read side of EPK2: an archive opened as a FileSystem, and the zlib
// entry stream that inflates entries on reading and deflates them for the
// builder.
#pragma once

#include <cstdint>

#include "fs/filesystem.h"

struct Allocator;
struct Stream;
struct ArchiveFileSystem;

constexpr int ENTRY_MODE_INFLATE = 1;
constexpr int ENTRY_MODE_DEFLATE = 2;

FileSystem* archive_open(FileSystem* parent, const char* path, Allocator* allocator);
FileSystem* archive_open_memory(const void* buffer, uint32_t size, Allocator* allocator);
// Opens the archive in a file that is already open (see stream/file_handles.h);
// path is only its name. The archive holds a reference to the file.
struct SharedFile;
FileSystem* archive_open_shared(SharedFile* file, const char* path, Allocator* allocator);
// The open file an archive on disk is read through; null for an archive in
// memory or inside another file system.
SharedFile* archive_shared_file(FileSystem* fs);
// True when the archive file's size has changed since it was opened: some
// other process wrote to it, and what it holds can no longer be trusted.
bool archive_file_changed(FileSystem* fs);

Stream* stream_open_entry(Stream* inner, uint32_t size, int mode, Allocator* allocator);
// Mode 1: true only when the zlib stream ended with a good Adler-32 and
// exactly `size` bytes were delivered. False for any other stream.
bool entry_stream_intact(Stream* s);
// Mode 1: true when exactly `size` bytes were delivered and then the stored
// bytes ended before the zlib stream did (no end marker, no Adler-32): the
// content reads back whole but its checksum cannot be checked.
bool entry_stream_cut(Stream* s);
// Mode 2: true once an inner write came up short or zlib failed; the entry's
// bytes are then incomplete. False for any other stream.
bool entry_stream_failed(Stream* s);

// Read-only view of an opened archive's records, for tools that show or
// copy stored bytes. Null when fs is not an archive.
struct ArchiveEntryInfo {
    uint32_t data_offset;
    uint32_t stored_size;
    uint32_t size;
    uint8_t key;
    uint8_t attributes;
    uint32_t file_index; // the record's 1-based index in its archive
};
bool archive_is_archive(FileSystem* fs);
// Looks up a file by path as open does; false when not found.
bool archive_entry_info(FileSystem* fs, const char* path, ArchiveEntryInfo* info);
// True when an enumerated path (absolute or relative) holds an empty
// component: a record whose stored name is empty, or something inside a
// folder of that kind. Such paths end in "/" or hold "//"; a top-level one
// is "/" itself (enumeration never reports the root). No path finds such
// an entry, so whatever copies entries out by name leaves it out.
bool archive_path_has_empty_name(const char* path);
// Header figures of an opened archive.
struct ArchiveHeaderInfo {
    uint32_t table_end;
    uint32_t dir_count;
    uint32_t file_count;
};
bool archive_header_info(FileSystem* fs, ArchiveHeaderInfo* info);
// Opens the content of a record that archive_entry_info or
// archive_enumerate_records handed out, without looking its path up again.
Stream* archive_open_entry_at(FileSystem* fs, const ArchiveEntryInfo* info, Allocator* allocator);
typedef void (*ArchiveRecordCallback)(void* context, const DirEntry* entry,
                                      const ArchiveEntryInfo* info);
// Enumerates like fs_enumerate and hands each file's record along (null for
// a directory), so that listing an archive needs no lookup per entry.
int archive_enumerate_records(FileSystem* fs, const char* path, int recursive, void* context,
                              ArchiveRecordCallback callback);
// The entry's stored bytes exactly as they lie in the archive (still
// scrambled and compressed): a window of stored_size bytes at data_offset.
// An empty entry gives an empty stream. Null when not found.
Stream* archive_open_stored(FileSystem* fs, const char* path, Allocator* allocator);
// The same for a record that archive_entry_info or archive_enumerate_records
// handed out (checked as archive_open_entry_at does).
Stream* archive_open_stored_at(FileSystem* fs, const ArchiveEntryInfo* info, Allocator* allocator);
