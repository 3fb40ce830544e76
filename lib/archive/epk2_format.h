// The EPK2 archive layout: a 32-byte header, the table region (directory
// records, file records, names, padding; scrambled with key 1 in its first
// 1024 bytes) and the data region. All integers are little-endian.
#pragma once

#include <cstdint>

constexpr uint32_t EPK2_MAGIC = 0x324B5045; // "EPK2"
constexpr uint16_t EPK2_VERSION = 32;
constexpr uint32_t EPK2_HEADER_SIZE = 32;
constexpr uint32_t EPK2_ALIGNMENT = 32;
constexpr uint32_t EPK2_DIR_RECORD_SIZE = 24;
constexpr uint32_t EPK2_FILE_RECORD_SIZE = 28;
constexpr uint32_t EPK2_KEY_LENGTH = 256;
constexpr uint32_t EPK2_SCRAMBLE_LIMIT = 1024;
constexpr uint32_t EPK2_KEY_COUNT = 4;
constexpr uint32_t EPK2_MAX_FILES = 65535;

// Header field offsets.
constexpr uint32_t EPK2_OFFSET_TABLE_END = 16;

// Records as they are stored (little-endian on disk; this system runs only on
// little-endian machines, so they can be read in place).
struct Epk2DirRecord {
    uint32_t name_offset; // from the start of the table region
    uint32_t parent;
    uint32_t first_child;
    uint32_t first_file;
    uint32_t prev_sibling;
    uint32_t next_sibling;
};
static_assert(sizeof(Epk2DirRecord) == EPK2_DIR_RECORD_SIZE);

#pragma pack(push, 1)
struct Epk2FileRecord {
    uint32_t name_offset;
    uint16_t index;
    uint8_t attributes;
    uint8_t key; // 0: not scrambled; 1-4: key number
    uint32_t data_offset;
    uint32_t stored_size;
    uint32_t size;
    uint32_t prev_file;
    uint32_t next_file;
};
#pragma pack(pop)
static_assert(sizeof(Epk2FileRecord) == EPK2_FILE_RECORD_SIZE);

struct Epk2Header {
    uint32_t magic;
    uint16_t version;
    uint16_t reserved0;
    uint64_t reserved1;
    uint32_t table_end;
    uint32_t dir_count;
    uint32_t file_count;
    uint32_t reserved2;
};
static_assert(sizeof(Epk2Header) == EPK2_HEADER_SIZE);

// Key number 1 to 4 -> its 256-byte table; null for 0 or out of range.
const unsigned char* epk2_key(uint32_t key_number);

// Rounds up to the archive's 32-byte alignment.
inline uint32_t epk2_align(uint32_t value) {
    return (value + (EPK2_ALIGNMENT - 1)) & ~(EPK2_ALIGNMENT - 1);
}
