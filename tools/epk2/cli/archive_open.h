// Archives as the commands open and list them: owning handles, and a
// failure told once, naming the file and why.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "archive/archive_fs.h"
#include "cli/arguments.h"
#include "cli/console.h"
#include "fs/filesystem_ptr.h"

// Opens an archive for reading; on failure prints why (naming the file) and
// sets status to EXIT_USAGE when the file cannot be opened at all and to
// EXIT_DAMAGED when it is not a readable archive.
FileSystemPtr open_archive_for_command(Console& console, const std::string& display_path,
                                       const std::string& library_path, int& status);

// For the commands whose first argument is the ARCHIVE: converts the name
// and opens the archive. On failure, prints why and sets status (EXIT_USAGE
// or EXIT_DAMAGED).
FileSystemPtr open_first_archive(const Arguments& args, Console& console, int& status);

// One archive entry as the tools list it.
struct ListedEntry {
    std::string path; // code page 932, absolute ("/a/b")
    bool directory;
    uint32_t size;
    uint32_t attributes;
    ArchiveEntryInfo info; // the file's record; unset for a directory
};
// Every entry in archive order (directories before their contents).
std::vector<ListedEntry> list_archive(FileSystem* fs);
