// The file system that maps "/"-separated paths onto a disk folder, the
// recursive folder walk, and the thin wrappers the disk side uses.
#pragma once

#include <cstdint>

#include "fs/filesystem.h"

FileSystem* disk_fs_create(FileSystem* parent, const char* root_path, Allocator* allocator);

int disk_walk(const char* directory, int recursive, void* context, FileSystem* fs,
              EnumCallback callback);

int disk_current_dir(char* buffer, uint32_t length);
int disk_app_data_dir(char* buffer);
uint32_t disk_full_path(char* buffer, uint32_t length, const char* path);
uint32_t disk_attributes(const char* path);
int disk_make_dir(const char* path);
int disk_remove_dir(const char* path);
