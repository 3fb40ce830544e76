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

// Longest single name of a file in a held folder.
constexpr uint32_t WORK_FILE_NAME_SIZE = 260;

struct WorkFile {
    PlatformFile file;
    int cleanup_slot;                      // registered for removal on an interruption; -1 none
    char path[WORK_FILE_PATH_SIZE];        // where it is written
    char destination[WORK_FILE_PATH_SIZE]; // what it replaces
    // Made by work_file_create_in: the held folder (the caller's, open until
    // the commit or discard) and both names within it. Otherwise the folder
    // is PLATFORM_INVALID_FOLDER and path and destination are used by name.
    PlatformFolder folder;
    char work_name[WORK_FILE_NAME_SIZE];
    char name[WORK_FILE_NAME_SIZE];
};

// Creates the work file for destination. Without work_path it gets a fresh
// name beside destination ("destination.partial-XXXXXX"), another one where
// that exists. With work_path it is that fixed name: whatever lies there
// (left behind by a crash, or planted: a file or a link) is removed first,
// never written through. False, with work->file invalid, on failure.
bool work_file_create(WorkFile* work, const char* destination, const char* work_path = nullptr);

// The same within a held folder: the work file is made in folder (never
// through a link, see platform_folder_create_file) and later renamed within
// it to name, so no path is looked up again after folder was checked.
// shown_folder is the folder's path, for messages: work->path and
// work->destination are it joined with each name.
bool work_file_create_in(WorkFile* work, PlatformFolder folder, const char* shown_folder,
                         const char* name, const char* work_name = nullptr);

// Opens the folder name in parent as the next step of a walk from a held
// folder: made first when missing and create is set, then opened without
// following a link (platform_folder_open_child), so that what was made is
// what is opened or the step fails. PLATFORM_INVALID_FOLDER on failure,
// platform_error_is_link telling a link.
PlatformFolder work_folder_step(PlatformFolder parent, const char* name, bool create);

// Tests only: called with each folder's name between its making and its
// opening in work_folder_step, and with each work file's name just before
// work_file_create_in makes it (where a hostile user could swap a folder for
// a link). Null otherwise.
enum WorkFileHookPoint { WORK_HOOK_FOLDER_MADE, WORK_HOOK_FILE_CREATING };
extern void (*work_file_test_hook)(WorkFileHookPoint point, const char* name);

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
