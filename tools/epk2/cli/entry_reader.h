// The tool's way to read an entry to its end: the library's reader with a
// buffer of the tool's size.
#pragma once

#include <string>

#include "archive/entry_read.h"

EntryReadResult read_entry(FileSystem* fs, const ArchiveEntryInfo& info, const EntrySink& sink);
// The same by path; "not in the archive" when there is no such file.
EntryReadResult read_entry(FileSystem* fs, const std::string& path, const EntrySink& sink);
