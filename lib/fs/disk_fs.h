// The file system that maps "/"-separated paths onto a disk folder, the
// recursive folder walk, and the thin wrappers the disk side uses.
#pragma once

#include <cstdint>

#include "fs/filesystem.h"

// root_path is stored unchanged and every path is appended to it. With a
// parent, every operation is forwarded to the parent with the composed path.
// Null when the root does not fit FS_PATH_SIZE or memory runs out.
FileSystem* disk_fs_create(FileSystem* parent, const char* root_path, Allocator* allocator);

// Lists a disk folder: names relative to it with a leading "/", every folder
// reported before its contents. 1 when the folder could be listed. Entries
// and sub-folders that cannot be handed on are left out and reported with
// report_error.
int disk_walk(const char* directory, int recursive, void* context, FileSystem* fs,
              EnumCallback callback);

int disk_current_dir(char* buffer, uint32_t length);
// buffer holds at least 260 bytes.
int disk_app_data_dir(char* buffer);
uint32_t disk_full_path(char* buffer, uint32_t length, const char* path);
// DIRENTRY_DIRECTORY and DIRENTRY_READONLY bits; 0 for a missing path.
uint32_t disk_attributes(const char* path);
int disk_make_dir(const char* path);
int disk_remove_dir(const char* path);
