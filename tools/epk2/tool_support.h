// Small pieces every command uses: owning handles for library objects, the
// capture of library messages, and error printing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "archive/archive_fs.h"
#include "cli.h"
#include "fs/filesystem.h"
#include "fs/filesystem_ptr.h"
#include "stream/stream.h"
#include "stream/stream_ptr.h"

// Collects the library's messages while it lives, so that a command can say
// why the library refused something instead of printing them unasked.
class MessageCapture {
  public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    // The messages so far, without their "Error: " prefix and line feed.
    const std::vector<std::string>& messages() const { return messages_; }
    std::string last() const { return messages_.empty() ? std::string() : messages_.back(); }
    void clear() { messages_.clear(); }

  private:
    static void hook(intptr_t value, const char* text);
    std::vector<std::string> messages_;
    MessageCapture* previous_;
};

// The operating system's words for the last failure ("Permission denied"),
// taken right after the failing call.
std::string os_reason();
// Drops the separators ("/" or "\\") that end a code page 932 path, all but
// a first character ("/" stays "/"). The byte 0x5C that ends "表" (0x95
// 0x5C) is that character's trail byte, not a separator.
void drop_trailing_separators(std::string& path);

// path's place inside folder ("/out.dat", with "/" between components)
// when it lies there, else nothing: a pack or diff output inside the folder
// it reads must not be read as data.
std::vector<std::string> path_inside(const std::string& folder, const std::string& path);
// "1 file", "2 files".
std::string count_of(uint64_t count, const char* one, const char* many);

// "epk2: " + text (code page 932 parts already converted) + line feed.
void print_error(Console& console, const std::string& text);

// Converts a command-line path to code page 932; prints an error and returns
// false when it has no such form.
bool argument_to_library(Console& console, const std::string& argument, std::string& path);

// Opens an archive for reading; on failure prints why (naming the file) and
// sets status to EXIT_USAGE when the file cannot be opened at all and to
// EXIT_DAMAGED when it is not a readable archive.
FileSystemPtr open_archive_for_command(Console& console, const std::string& display_path,
                                       const std::string& library_path, int& status);

// For the commands that take exactly one ARCHIVE: checks the argument count,
// converts the name and opens the archive. On failure, prints why and sets
// status (EXIT_USAGE or EXIT_DAMAGED).
FileSystemPtr open_sole_archive(const Arguments& args, Console& console, const char* command,
                                int& status);

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

// Human-readable byte count ("12.3 MB").
std::string format_bytes(double bytes);
