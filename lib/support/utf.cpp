#include "support/text.h"

namespace {

// Written where a byte cannot start a sequence, so that no output position
// is left holding whatever the buffer held before.
constexpr uint16_t UTF_REPLACEMENT = 0xFFFD;

} // namespace

uint32_t utf16_to_utf8(char* destination, uint32_t capacity, const uint16_t* text) {
    if (capacity == 0) {
        return 0;
    }
    uint32_t count = 0;
    // Room is kept for a whole three-byte sequence and the NUL.
    if (capacity > 3) {
        for (; *text != 0 && count < capacity - 3; ++text) {
            uint16_t c = *text;
            if (c < 0x80) {
                destination[count++] = static_cast<char>(c);
            } else if (c < 0x800) {
                destination[count++] = static_cast<char>(0xC0 | (c >> 6));
                destination[count++] = static_cast<char>(0x80 | (c & 0x3F));
            } else {
                // Surrogates too go out one by one; pairs are not combined.
                destination[count++] = static_cast<char>(0xE0 | (c >> 12));
                destination[count++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                destination[count++] = static_cast<char>(0x80 | (c & 0x3F));
            }
        }
    }
    destination[count] = '\0';
    return count;
}

uint32_t utf8_to_utf16(uint16_t* destination, uint32_t capacity, const char* text) {
    if (capacity == 0) {
        return 0;
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    uint32_t count = 0;
    while (count < capacity - 1 && p[0] != 0) {
        unsigned char b0 = p[0];
        if (b0 < 0x80) {
            destination[count] = b0;
            p += 1;
        } else if (b0 >= 0xC0 && b0 <= 0xDF) {
            // Each continuation byte is checked for the terminator before the
            // next one is looked at: a cut sequence must not read past it.
            if (p[1] == 0) {
                break;
            }
            destination[count] = static_cast<uint16_t>(((b0 & 0x1F) << 6) | (p[1] & 0x3F));
            p += 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            if (p[1] == 0 || p[2] == 0) {
                break;
            }
            destination[count] =
                static_cast<uint16_t>(((b0 & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
            p += 3;
        } else {
            destination[count] = UTF_REPLACEMENT;
            p += 1;
        }
        ++count;
    }
    destination[count] = 0;
    return count;
}
