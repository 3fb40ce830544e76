// What a patch holds: chosen files and folders of NEW, some of them also
// under /_extract, seen as one file system that the archive builder reads
// like a folder; and an info.txt with a new version or attribute.
#pragma once

#include <string>
#include <vector>

#include "archive/archive_builder.h"
#include "update/patch/diff_tree.h"

struct FileSystem;
struct Stream;

struct PatchItem {
    std::string path;      // where it lies in the patch ("/a/b")
    const TreeEntry* from; // NEW's file it serves; null for a folder
    bool directory() const { return from == nullptr; }
};

// A read-only file system of items, listed in their order (every folder
// before what it holds) and read from source. Items stay the caller's; it
// must outlive the file system. Safe to read on several threads at once.
FileSystem* patch_view_open(FileSystem* source, const std::vector<PatchItem>& items);

// NEW's info.txt with each "version=" line (when version is given) and each
// "attribute=" line (when attribute is given) holding the new value, every
// other line and line end kept; a key it lacks is added at the end.
std::string rewrite_info(const std::string& original, const std::string* version,
                         const std::string* attribute);
