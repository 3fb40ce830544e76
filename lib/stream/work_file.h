// A file written beside the file it is to replace and put in its place in
// one step once complete: readers of the destination see the old file or
// the new one, never a part. The work file is always new (created
// exclusively, never through a link, never truncating anything), is written
// and flushed through the handle that created it, and on failure or an
// interruption only the file it created is removed.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct Allocator;
struct Stream;

constexpr uint32_t WORK_FILE_PATH_SIZE = 1024;

struct WorkFile {
    PlatformFile file;
    int cleanup_slot;                      // registered for removal on an interruption; -1 none
    char path[WORK_FILE_PATH_SIZE];        // where it is written
    char destination[WORK_FILE_PATH_SIZE]; // what it replaces
};

// Creates the work file for destination. Without work_path it gets a fresh
// name beside destination ("destination.partial-XXXXXX"), another one where
// that exists. With work_path it is that fixed name: whatever lies there
// (left behind by a crash, or planted: a file or a link) is removed first,
// never written through. False, with work->file invalid, on failure.
bool work_file_create(WorkFile* work, const char* destination, const char* work_path = nullptr);

// A stream that writes and reads through the work file's handle; closing
// it leaves the work file open.
Stream* work_file_stream(WorkFile* work, Allocator* allocator);

// Pushes what was written to the device, through the handle that wrote it.
bool work_file_sync(WorkFile* work);

// Flushes the work file where it replaces one (a new name has nothing to
// lose) and puts it in the destination's place (rename,
// or MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
// a destination that is a link is replaced, never written through. The
// work file is closed either way and removed when the move fails.
bool work_file_commit(WorkFile* work);

// Closes the work file and removes it, if its name still names it.
void work_file_discard(WorkFile* work);
