// Reads entries of an archive to their end on every core: what verify does
// with each file's content, where inflating is most of the work.
#pragma once

#include <vector>

#include "archive/entry_read.h"
#include "cli/cli.h"

// The result of reading each entry of entries (directories are skipped and
// keep an empty result), in the order of entries whatever order the threads
// finished in. threads 0 takes one per core; the calling thread is one of
// them and advances progress. An archive that is not read from its own file
// (one inside another file system) is read on the calling thread alone.
std::vector<EntryReadResult> read_entries_in_parallel(FileSystem* fs,
                                                      const std::vector<ListedEntry>& entries,
                                                      unsigned threads, ProgressBar& progress);
