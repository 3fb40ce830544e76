// Helpers shared by the fuzz targets: packing from memory, per-process
// temporary files, a reference line splitter and a quiet message hook. The
// in-memory file system and the reference wildcard matcher come from the
// support library the unit tests share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/memory_fs.h"

// Stops the process with a message; a fuzz target's way of saying that the
// code under test gave a wrong answer.
[[noreturn]] void fuzz_fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Installs a message hook that swallows library messages (after checking
// that each one is a terminated text of the documented size); with
// EPK2_FUZZ_VERBOSE set in the environment they go to standard error.
void fuzz_quiet_messages();

// Packs entries (a memory file system) into an archive at output with the
// builder, without a log. False with error set when the builder refuses.
bool fuzz_pack(const std::vector<MemoryEntry>& entries, const std::string& output,
               std::string* error);

// A path in the temporary folder unique to this process, ending in suffix.
// The file is removed when the process exits.
std::string fuzz_temp_path(const char* suffix);

// A folder in the temporary folder unique to this process, created now. It
// is removed when the process exits, with the files named by
// fuzz_temp_register that lie in it.
std::string fuzz_temp_dir(const char* suffix);
void fuzz_temp_register(const std::string& path);

// Writes bytes to path; false when the file cannot be written completely.
bool fuzz_write_file(const std::string& path, const void* data, size_t size);

// The lines a loop "while state is not END: read_line(stream, buffer, size)"
// yields over bytes, each as the bytes stored (NULs included), computed
// without the stream layer: CR LF ends a line, a CR before any other byte
// is dropped, a CR at the very end is kept, and a line longer than size - 1
// bytes comes back in pieces. size must be at least 2.
std::vector<std::string> reference_lines(const std::string& bytes, uint32_t size);
