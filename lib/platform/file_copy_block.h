// The copy between two files that both platforms fall back on: reads and
// writes at positions through a block of memory.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Copies as platform_file_copy does, through one 1 MiB block per thread that
// is kept between calls: a copy is made of many calls (a run of entries or
// an entry's tail each), and a fresh block each time would cost its page
// faults again.
uint32_t platform_file_copy_through_block(PlatformFile from, uint32_t from_position,
                                          PlatformFile to, uint32_t to_position, uint32_t count);
