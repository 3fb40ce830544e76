#include <zlib.h>

#include <cstring>

#include "archive/archive_fs.h"
#include "stream/stream.h"
#include "support/memory.h"

namespace {

// Compressed-side buffer: the inflater refills it from inner, the deflater
// empties it into inner whenever it is full.
constexpr uint32_t ENTRY_BUFFER_SIZE = 2048;

struct EntryStream {
    const StreamOps* ops;
    Stream* inner;    // owned
    z_stream zstream; // zlib's own allocation (hooks left null)
    int mode;         // ENTRY_MODE_INFLATE or ENTRY_MODE_DEFLATE
    unsigned char* buffer;
    uint32_t position; // uncompressed bytes delivered or accepted
    uint32_t size;     // inflate: the record's size; deflate: largest position
    int ended;         // inflate: no more bytes will come
    int intact;        // inflate: the zlib stream ended, checked, at exactly size
    int cut;           // inflate: size bytes came, then the stored bytes ran out
    uint32_t taken;    // inflate: stored bytes read from inner
    int finished;      // deflate: the zlib stream is complete (or given up)
    int failed;        // deflate: bytes were lost on the way to inner
};

} // namespace

static EntryStream* entry_of(Stream* s) {
    return reinterpret_cast<EntryStream*>(s);
}

static void entry_refill(EntryStream* e) {
    uint32_t count = stream_read(e->inner, e->buffer, ENTRY_BUFFER_SIZE);
    e->taken += count;
    e->zstream.next_in = e->buffer;
    e->zstream.avail_in = count;
}

// Once `size` bytes are out, the zlib stream must end right there for the
// entry to count as intact: this consumes the rest of the stream (and its
// Adler-32) through a one-byte scratch output, so that anything further is
// seen as an overlong entry rather than delivered. A stream that simply
// stops at the end of its stored bytes is cut: writers that give each file a
// window of twice its size cut the zlib framing of files of a few bytes
// after their last data byte. Its content is all there; only its checksum
// is missing.
static void entry_confirm_end(EntryStream* e) {
    unsigned char extra;
    for (;;) {
        if (e->zstream.avail_in == 0) {
            entry_refill(e);
        }
        e->zstream.next_out = &extra;
        e->zstream.avail_out = 1;
        int result = inflate(&e->zstream, Z_NO_FLUSH);
        if (e->zstream.avail_out == 0) {
            break;
        }
        if (result == Z_STREAM_END) {
            e->intact = 1;
            break;
        }
        if (result != Z_OK) {
            // Every stored byte taken, and zlib only waits for more: cut.
            // The inner stream's size is the stored size, so a read that
            // failed early is not taken for the end of the stored bytes.
            e->cut = result == Z_BUF_ERROR && e->zstream.avail_in == 0 &&
                     e->taken == stream_size(e->inner);
            break;
        }
    }
    e->ended = 1;
}

// Never more than the record's size: a stream that would inflate to more
// must not overrun what callers were told to expect. Truncated or broken
// data, or a bad Adler-32, end the stream early.
static uint32_t entry_read(Stream* s, void* buffer, uint32_t n) {
    EntryStream* e = entry_of(s);
    if (e->mode != ENTRY_MODE_INFLATE || e->ended) {
        return 0;
    }
    uint32_t want = e->size - e->position;
    if (n < want) {
        want = n;
    }
    e->zstream.next_out = static_cast<Bytef*>(buffer);
    e->zstream.avail_out = want;
    int result = Z_OK;
    // zlib may hold output it owes from input it has already taken (the rest
    // of a match), so it is asked even when no input is left; with nothing
    // to give and nothing to take it answers Z_BUF_ERROR, which ends the
    // stream.
    while (e->zstream.avail_out > 0) {
        if (e->zstream.avail_in == 0) {
            entry_refill(e);
        }
        result = inflate(&e->zstream, Z_NO_FLUSH);
        if (result != Z_OK) {
            break;
        }
    }
    uint32_t count = want - e->zstream.avail_out;
    e->position += count;
    if (result == Z_STREAM_END) {
        e->ended = 1;
        e->intact = e->position == e->size;
    } else if (result != Z_OK) {
        e->ended = 1;
    } else if (e->position == e->size) {
        entry_confirm_end(e);
    }
    return count;
}

// Hands the full buffer to inner and makes it free again.
static bool entry_drain(EntryStream* e) {
    if (stream_write(e->inner, e->buffer, ENTRY_BUFFER_SIZE) != ENTRY_BUFFER_SIZE) {
        return false;
    }
    e->zstream.next_out = e->buffer;
    e->zstream.avail_out = ENTRY_BUFFER_SIZE;
    return true;
}

// Once a compressed byte is lost the entry cannot be repaired, so a failed
// stream accepts nothing more and reports 0 for the call that failed.
static uint32_t entry_write(Stream* s, const void* buffer, uint32_t n) {
    EntryStream* e = entry_of(s);
    if (e->mode != ENTRY_MODE_DEFLATE || e->finished || e->failed) {
        return 0;
    }
    if (n > UINT32_MAX - e->position) {
        e->failed = 1; // the record's 32-bit size could not describe it
        return 0;
    }
    e->zstream.next_in = static_cast<Bytef*>(const_cast<void*>(buffer));
    e->zstream.avail_in = n;
    while (e->zstream.avail_in > 0) {
        if (e->zstream.avail_out == 0 && !entry_drain(e)) {
            e->failed = 1;
            break;
        }
        if (deflate(&e->zstream, Z_NO_FLUSH) != Z_OK) {
            e->failed = 1;
            break;
        }
    }
    // zlib must not keep a pointer into the caller's buffer.
    e->zstream.next_in = nullptr;
    e->zstream.avail_in = 0;
    if (e->failed) {
        return 0;
    }
    e->position += n;
    if (e->position > e->size) {
        e->size = e->position;
    }
    return n;
}

// Completes the zlib stream once; later flushes add nothing after its
// trailer.
static void entry_finish(EntryStream* e) {
    if (e->finished) {
        return;
    }
    e->finished = 1;
    if (e->failed) {
        return;
    }
    for (;;) {
        if (e->zstream.avail_out == 0 && !entry_drain(e)) {
            e->failed = 1;
            return;
        }
        int result = deflate(&e->zstream, Z_FINISH);
        if (result == Z_STREAM_END) {
            break;
        }
        if (result != Z_OK) {
            e->failed = 1;
            return;
        }
    }
    uint32_t used = ENTRY_BUFFER_SIZE - e->zstream.avail_out;
    if (used && stream_write(e->inner, e->buffer, used) != used) {
        e->failed = 1;
    }
}

static void entry_flush(Stream* s) {
    EntryStream* e = entry_of(s);
    if (e->mode == ENTRY_MODE_DEFLATE) {
        entry_finish(e);
        stream_flush(e->inner);
    }
}

static void entry_close(Stream* s) {
    EntryStream* e = entry_of(s);
    if (e->mode == ENTRY_MODE_INFLATE) {
        inflateEnd(&e->zstream);
    } else {
        entry_flush(s);
        deflateEnd(&e->zstream);
    }
    stream_close(e->inner);
    mem_free(e->buffer);
    mem_free(e);
}

// Compressed data cannot be repositioned; the stream stays where it is.
static uint32_t entry_seek(Stream* s, int32_t, int) {
    return entry_of(s)->position;
}
static uint32_t entry_tell(Stream* s) {
    return entry_of(s)->position;
}
static uint32_t entry_size(Stream* s) {
    return entry_of(s)->size;
}

static uint32_t entry_state(Stream* s) {
    EntryStream* e = entry_of(s);
    return e->mode == ENTRY_MODE_INFLATE && e->ended ? STREAM_STATE_END : STREAM_STATE_MORE;
}

static const StreamOps entry_ops = {
    .close = entry_close,
    .read = entry_read,
    .write = entry_write,
    .flush = entry_flush,
    .seek = entry_seek,
    .tell = entry_tell,
    .size = entry_size,
    .state = entry_state,
};

Stream* stream_open_entry(Stream* inner, uint32_t size, int mode, Allocator* allocator) {
    if (!inner || (mode != ENTRY_MODE_INFLATE && mode != ENTRY_MODE_DEFLATE)) {
        return nullptr;
    }
    EntryStream* e = static_cast<EntryStream*>(mem_alloc(allocator, sizeof(EntryStream), 0));
    if (!e) {
        return nullptr;
    }
    std::memset(e, 0, sizeof *e);
    e->ops = &entry_ops;
    e->inner = inner;
    e->mode = mode;
    e->size = size;
    e->buffer = static_cast<unsigned char*>(mem_alloc(allocator, ENTRY_BUFFER_SIZE, 0));
    int result = Z_MEM_ERROR;
    if (e->buffer) {
        if (mode == ENTRY_MODE_INFLATE) {
            result = inflateInit(&e->zstream);
        } else {
            result = deflateInit2(&e->zstream, 5, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
            e->zstream.next_out = e->buffer;
            e->zstream.avail_out = ENTRY_BUFFER_SIZE;
        }
    }
    if (result != Z_OK) {
        mem_free(e->buffer);
        mem_free(e);
        return nullptr;
    }
    return reinterpret_cast<Stream*>(e);
}

bool entry_stream_intact(Stream* s) {
    return s && s->ops == &entry_ops && entry_of(s)->mode == ENTRY_MODE_INFLATE &&
           entry_of(s)->intact;
}

bool entry_stream_cut(Stream* s) {
    return s && s->ops == &entry_ops && entry_of(s)->mode == ENTRY_MODE_INFLATE && entry_of(s)->cut;
}

bool entry_stream_failed(Stream* s) {
    return s && s->ops == &entry_ops && entry_of(s)->mode == ENTRY_MODE_DEFLATE &&
           entry_of(s)->failed;
}
