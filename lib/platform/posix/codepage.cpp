#include "codepage.h"

#include <cstring>
#include <iconv.h>

namespace {

// One pair of converters per thread: an iconv descriptor keeps shift state
// and must not be shared between threads; opening one per call would load
// the converter tables for every name of a folder listing.
struct CodepageConverters {
    iconv_t to_utf8 = reinterpret_cast<iconv_t>(-1);
    iconv_t from_utf8 = reinterpret_cast<iconv_t>(-1);

    ~CodepageConverters() {
        if (to_utf8 != reinterpret_cast<iconv_t>(-1)) {
            iconv_close(to_utf8);
        }
        if (from_utf8 != reinterpret_cast<iconv_t>(-1)) {
            iconv_close(from_utf8);
        }
    }
};

thread_local CodepageConverters converters;

bool codepage_convert(iconv_t* slot, const char* to, const char* from, const char* in, char* out,
                      size_t size) {
    if (!in || !out || size == 0) {
        return false;
    }
    if (*slot == reinterpret_cast<iconv_t>(-1)) {
        *slot = iconv_open(to, from);
        if (*slot == reinterpret_cast<iconv_t>(-1)) {
            return false;
        }
    }
    iconv(*slot, nullptr, nullptr, nullptr, nullptr); // back to the initial state
    char* source = const_cast<char*>(in);
    size_t source_left = std::strlen(in);
    char* target = out;
    size_t target_left = size - 1; // room for the NUL
    // Without //TRANSLIT or //IGNORE iconv stops at the first byte sequence
    // it cannot map, which is the failure callers need.
    if (iconv(*slot, &source, &source_left, &target, &target_left) == static_cast<size_t>(-1) ||
        iconv(*slot, nullptr, nullptr, &target, &target_left) == static_cast<size_t>(-1)) {
        out[0] = '\0';
        return false;
    }
    *target = '\0';
    return true;
}

} // namespace

bool codepage_to_utf8(const char* cp932, char* utf8, size_t size) {
    return codepage_convert(&converters.to_utf8, "UTF-8", "CP932", cp932, utf8, size);
}

bool codepage_from_utf8(const char* utf8, char* cp932, size_t size) {
    return codepage_convert(&converters.from_utf8, "CP932", "UTF-8", utf8, cp932, size);
}
