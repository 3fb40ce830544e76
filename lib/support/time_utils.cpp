#include <ctime>

#include "support/text.h"

int64_t time_now(int64_t* out) {
    int64_t now = static_cast<int64_t>(std::time(nullptr));
    if (out != nullptr) {
        *out = now;
    }
    return now;
}

struct tm* time_to_utc(const int64_t* time) {
    if (time == nullptr) {
        return nullptr;
    }
    std::time_t converted = static_cast<std::time_t>(*time);
    // A time_t narrower than 64 bits would silently wrap.
    if (static_cast<int64_t>(converted) != *time) {
        return nullptr;
    }
    return std::gmtime(&converted);
}

uint32_t format_utc_time(char* destination, uint32_t size, const char* format) {
    if (destination == nullptr || size == 0) {
        return 0;
    }
    int64_t now = time_now(nullptr);
    struct tm* utc = time_to_utc(&now);
    size_t written = utc != nullptr ? std::strftime(destination, size, format, utc) : 0;
    // strftime leaves the buffer undefined when the text does not fit.
    if (written == 0) {
        destination[0] = '\0';
    }
    return static_cast<uint32_t>(written);
}
