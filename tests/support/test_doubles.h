// Stand-ins that the unit tests and the fuzz targets share: an allocator that
// counts what it has handed out, and a stream that writes short. No
// GoogleTest here: the fuzz targets link these too.
#pragma once

#include <cstdint>

#include "stream/stream.h"
#include "support/memory.h"

// An allocator over malloc that counts the blocks still handed out, to show
// that a close or a refusal released everything it took.
struct CountingAllocator {
    Allocator base;
    int live_blocks;

    CountingAllocator();
};

// Forwards to an inner stream but writes short, as a device that is briefly
// or finally full would: each write passes at most per_write bytes, and all
// writes together at most budget bytes. Reads, seeks and the rest pass
// through unchanged.
struct ShortWriteStream {
    const StreamOps* ops;
    Stream* inner;
    uint32_t per_write;
    uint32_t budget;
    bool owns_inner; // close then closes inner and deletes this object

    // Borrows inner; closing this stream releases nothing.
    ShortWriteStream(Stream* inner_stream, uint32_t write_cap, uint32_t total = UINT32_MAX);
    Stream* stream() { return reinterpret_cast<Stream*>(this); }
};

// A heap ShortWriteStream that owns inner: closing it closes inner too, as
// a stream handed to the builder must.
Stream* short_write_stream_open(Stream* inner, uint32_t per_write, uint32_t budget);
