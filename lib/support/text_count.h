// A count as messages say it: "1 file", "2 files".
#pragma once

#include <cstdint>
#include <string>

// count followed by one when it is 1, else by many.
std::string text_count_of(uint64_t count, const char* one, const char* many);
