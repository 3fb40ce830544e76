#include <array>

#include "support/text.h"

namespace {

// CRC-32/MPEG-2: polynomial 0x04C11DB7, most significant bit first.
constexpr std::array<uint32_t, 256> checksum_make_table() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint32_t, 256> checksum_table = checksum_make_table();

static_assert(checksum_table[1] == 0x04C11DB7u);
static_assert(checksum_table[255] == 0xB1F740B4u);

} // namespace

uint32_t checksum_crc32(const void* data, uint32_t length) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    uint32_t crc = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < length; ++i) {
        crc = (crc << 8) ^ checksum_table[(crc >> 24) ^ bytes[i]];
    }
    return crc;
}
