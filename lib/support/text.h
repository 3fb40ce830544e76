// Text and number utilities. All text is 8-bit and NUL-terminated, in code
// page 932: wherever these routines look for a separator they step over
// double-byte characters, whose trail byte may be 0x5C (a backslash).
#pragma once

#include <cstdint>

#include "platform/cp932_char.h"

// The character rule under the names the library's text routines use.
inline bool text_is_lead_byte(unsigned char c) {
    return cp932_is_lead_byte(c);
}
inline bool text_is_trail_byte(unsigned char c) {
    return cp932_is_trail_byte(c);
}
inline int text_char_length(const char* text) {
    return cp932_char_length(text);
}

// Cuts text in place at every separator into at most maximum pieces.
uint32_t split_text(char* text, char separator, char** pieces, uint32_t maximum);

// Path routines: "/" and the backslash both separate. Names and extensions
// point into path; a destination may be path itself.
char* path_file_name(const char* path);
// After the last "." of the last component, or null when it has none.
char* path_extension(const char* path);
// Up to and including the last separator; destination needs strlen(path) + 1.
char* path_directory(char* destination, const char* path);
// Destination needs strlen(path) + strlen(extension) + 2 bytes.
char* path_change_extension(char* destination, const char* path, const char* extension);

// CRC-32/MPEG-2.
uint32_t checksum_crc32(const void* data, uint32_t length);

// xorshift128; a null state selects the process-wide one.
struct Random {
    uint32_t w[4];
};
void random_seed(Random* state, uint32_t seed);
uint32_t random_u32(Random* state);
// [low, high); an empty range gives low.
uint32_t random_range(Random* state, uint32_t low, uint32_t high);
// [centre - spread, centre + spread) for 1 <= spread < 2^31; 0 gives centre.
int32_t random_spread(Random* state, int32_t centre, int32_t spread);
float random_range_float(Random* state, float low, float high);
float random_spread_float(Random* state, float centre, float spread);

// Both convert only what fits in capacity (bytes or units) with the NUL, and
// return the count written before it. Surrogates are not paired; a byte that
// cannot start a UTF-8 sequence becomes U+FFFD.
uint32_t utf16_to_utf8(char* destination, uint32_t capacity, const uint16_t* text);
uint32_t utf8_to_utf16(uint16_t* destination, uint32_t capacity, const char* text);

struct tm;
int64_t time_now(int64_t* out);
struct tm* time_to_utc(const int64_t* time);
uint32_t format_utc_time(char* destination, uint32_t size, const char* format);

struct Rect {
    int32_t left, top, right, bottom;
};
void rect_intersect(const Rect* a, Rect* b);

uint32_t color_from_floats(float c0, float c1, float c2, float alpha);
uint32_t color_scale(uint32_t colour, float factor);
uint32_t color_modulate(uint32_t x, uint32_t y);
uint32_t color_pack(uint32_t c0, uint32_t c1, uint32_t c2, uint32_t alpha);
