#include "archive/epk2_scramble.h"

#include <algorithm>

#include "archive/epk2_format.h"

void epk2_xor_scrambled(unsigned char* data, uint32_t count, uint32_t position,
                        const unsigned char* mask) {
    if (position >= EPK2_SCRAMBLE_LIMIT) {
        return;
    }
    count = std::min(count, EPK2_SCRAMBLE_LIMIT - position);
    // One stretch of the key at a time, so that the compiler can use wide
    // registers.
    for (uint32_t i = 0; i < count;) {
        const uint32_t at = (position + i) % EPK2_KEY_LENGTH;
        const uint32_t stretch = std::min(count - i, EPK2_KEY_LENGTH - at);
        for (uint32_t k = 0; k < stretch; ++k) {
            data[i + k] ^= mask[at + k];
        }
        i += stretch;
    }
}

void epk2_scramble(unsigned char* data, uint32_t count, uint32_t position, uint32_t key_number) {
    if (const unsigned char* key = epk2_key(key_number)) {
        epk2_xor_scrambled(data, count, position, key);
    }
}
