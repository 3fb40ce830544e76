// The seek arithmetic of the terminal stream kinds, which do not clamp: a
// position before the start wraps to a huge value, past every end, where
// reads deliver nothing.
#pragma once

#include <cstdint>

#include "stream/stream.h"

// False for an unknown origin; the caller then leaves its position alone.
inline bool stream_seek_target(uint32_t position, uint32_t size, int32_t offset, int origin,
                               uint32_t* target) {
    switch (origin) {
    case STREAM_SEEK_BEGIN:
        *target = static_cast<uint32_t>(offset);
        return true;
    case STREAM_SEEK_CURRENT:
        *target = position + static_cast<uint32_t>(offset);
        return true;
    case STREAM_SEEK_END:
        *target = size + static_cast<uint32_t>(offset);
        return true;
    default:
        return false;
    }
}
