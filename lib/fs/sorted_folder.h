// A disk folder as a FileSystem whose enumeration reports the entries of
// each directory in byte order of their names, so that packing the same
// folder gives the same archive on any machine. The folder is walked once,
// when it is opened.
#pragma once

#include <string>
#include <vector>

struct FileSystem;

// What the walk found and left out.
struct FolderWalkReport {
    // Entries that are neither files nor folders (FIFOs, sockets, devices),
    // as "/a/fifo" in code page 932: reading one could wait for ever.
    std::vector<std::string> special;
    // Entries whose names have no code page 932 form, as "/a/café.txt": the
    // folder as shown (below) and the name in the file system's own form. An
    // archive cannot hold them.
    std::vector<std::string> unrepresentable;
    // How the code page 932 paths in these lists (the folder of an
    // unrepresentable name) and in the error are shown; null keeps them as
    // they are. A tool passes its console's form.
    std::string (*shown)(const std::string& cp932) = nullptr;
};

// Walks root and keeps everything but the paths in leave_out ("/out.dat",
// code page 932; a path also leaves out the work files written beside it,
// "/out.dat.partial-..."). Null with error set when a folder cannot be
// listed or a path is too long.
FileSystem* sorted_folder_open(const std::string& root, const std::vector<std::string>& leave_out,
                               std::string& error, FolderWalkReport& report);
