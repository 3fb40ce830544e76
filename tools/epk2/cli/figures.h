// Counts and sizes as the commands print them.
#pragma once

#include <cstdint>
#include <string>

// "1 file", "2 files".
std::string count_of(uint64_t count, const char* one, const char* many);

// Human-readable byte count ("12.3 MB").
std::string format_bytes(double bytes);
