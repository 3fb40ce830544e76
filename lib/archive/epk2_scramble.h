// The scrambling of an entry's stored bytes: its first EPK2_SCRAMBLE_LIMIT
// bytes XORed with its key, repeated every EPK2_KEY_LENGTH bytes. XOR undoes
// itself, so the same call scrambles and unscrambles.
#pragma once

#include <cstdint>

// XORs the part of data that lies below EPK2_SCRAMBLE_LIMIT in its entry
// (data holds the entry's bytes [position, position + count)) with mask,
// an EPK2_KEY_LENGTH-byte key or a mix of two.
void epk2_xor_scrambled(unsigned char* data, uint32_t count, uint32_t position,
                        const unsigned char* mask);

// The same with key number key_number (1-4); key 0 (not scrambled) and
// numbers without a key leave data as it is.
void epk2_scramble(unsigned char* data, uint32_t count, uint32_t position, uint32_t key_number);
