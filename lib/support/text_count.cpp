#include "support/text_count.h"

std::string text_count_of(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}
