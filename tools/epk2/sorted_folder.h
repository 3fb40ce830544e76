// A disk folder as a FileSystem whose enumeration reports the entries of
// each directory in byte order of their names, so that packing the same
// folder gives the same archive on any machine. The folder is walked once,
// when it is opened.
#pragma once

#include <string>

struct FileSystem;

#include <vector>

// Null with error set when the folder cannot be listed completely (a name
// without a code page 932 form, an unreadable sub-folder). Entries that are
// neither files nor folders (FIFOs, sockets, devices) are left out; their
// paths ("/a/fifo") go to skipped.
FileSystem* sorted_folder_open(const std::string& root, std::string& error,
                               std::vector<std::string>& skipped);
