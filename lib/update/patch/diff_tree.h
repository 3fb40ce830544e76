// The two sides of a patch being made: a folder or an archive seen as one
// list of files and folders, and the comparison of two files by their bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/archive_fs.h"
#include "fs/filesystem_ptr.h"
#include "update/patch/diff_report.h"

// One file or folder of a side. A file whose content is given in memory
// (an info.txt with a new version) has content set and no record.
struct TreeEntry {
    std::string path; // code page 932, absolute ("/a/b")
    bool directory = false;
    uint32_t size = 0;
    bool has_record = false;
    ArchiveEntryInfo record{}; // an archive's record of the file
    const std::string* content = nullptr;
    FileSystem* fs = nullptr; // where it lies, when not in its tree's file system
};

struct Tree {
    std::string display; // as the caller shows it (a command line's argument)
    std::string library_path;
    bool is_archive = false;
    FileSystemPtr fs;
    // In the order the builder would add them: every folder before what it
    // holds. Entries the builder leaves out (".svn") are not here; of two
    // equal paths the first is kept, as the archive reader finds it.
    std::vector<TreeEntry> entries;
    std::unordered_map<std::string, size_t> files;   // path -> index into entries
    std::unordered_map<std::string, size_t> folders; // path -> index into entries
    uint64_t file_bytes = 0;

    const TreeEntry* file(const std::string& path) const;
    bool has_folder(const std::string& path) const { return folders.count(path) != 0; }
};

// Fills tree.entries from the disk folder (code page 932, no trailing
// separator), walked as pack walks it, without the paths in leave_out.
// Names without a code page 932 form fail it when unrepresentable_fail is
// set and are left out with a warning otherwise; entries that are not
// regular files are left out with a warning. On failure reports why and
// returns the status.
DiffStatus tree_open_folder(Tree& tree, const std::string& folder,
                            const std::vector<std::string>& leave_out, bool unrepresentable_fail,
                            const DiffReporter& reporter);

// True when path a comes before b in a walk of folders that takes the names
// of each folder in byte order, every folder right before what it holds.
bool walk_order(const std::string& a, const std::string& b);

// Fills tree.entries from the archive open in tree.fs, in walk_order.
void tree_list_archive(Tree& tree);

// Adds a file to a tree, or replaces the content of the one at its path.
void tree_put_file(Tree& tree, TreeEntry entry);

// A file to compare: where it lies and what it holds.
struct FileRef {
    FileSystem* fs = nullptr;
    const TreeEntry* entry = nullptr;
};

struct Comparison {
    bool same = false;
    // Why a side could not be read whole; empty when it could (or when it
    // did not have to be read to the end).
    std::string first_problem;
    std::string second_problem;
    bool first_damaged() const { return !first_problem.empty(); }
    bool second_damaged() const { return !second_problem.empty(); }
};

// Compares two files by content. Entries of two archives stored alike (same
// size, same stored size) are first compared by their stored bytes, each
// with its own scrambling key taken off: equal stored bytes are equal
// content, and nothing is inflated. Otherwise both contents are streamed
// side by side; no file is ever held whole. One comparer per thread.
class FileComparer {
  public:
    FileComparer();
    Comparison compare(const FileRef& first, const FileRef& second);

  private:
    bool stored_alike(const FileRef& first, const FileRef& second, bool& same);
    std::vector<unsigned char> first_buffer_, second_buffer_;
};

// The file's content as a stream (inflated and descrambled for an archive
// entry); null when it cannot be opened.
Stream* open_file_content(const FileRef& ref);

// Runs job(index, comparer) for every index below count on a few threads,
// and advances stage (on this thread) by the files done and the bytes that
// bytes_of says each one took.
void compare_in_parallel(size_t count, const std::function<void(size_t, FileComparer&)>& job,
                         const std::function<uint64_t(size_t)>& bytes_of,
                         UpdateProgressStage& stage);
