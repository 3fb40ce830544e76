// Helpers of the stream tests: a scrambling key, a read into a string, and
// the shared test doubles.
#pragma once

#include <string>

#include "support/test_doubles.h"

// Up to n bytes from the stream's position on.
inline std::string read_some(Stream* s, uint32_t n) {
    std::string out(n, '\0');
    out.resize(stream_read(s, out.data(), n));
    return out;
}

// A 256-byte test key: a permutation of 0..255 with no fixed pattern of zeros.
inline const unsigned char* test_key() {
    static unsigned char key[256];
    for (int i = 0; i < 256; ++i) {
        key[i] = static_cast<unsigned char>(i * 167 + 13);
    }
    return key;
}
