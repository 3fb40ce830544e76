#include "stream/stream.h"
#include "stream_filter.h"
#include "support/memory.h"

namespace {

struct RangeStream {
    const StreamOps* ops;
    Stream* inner;
    int owns; // close closes inner too
    uint32_t start;
    uint32_t length;
    uint32_t position; // within the window
};

static_assert(stream_filter_layout<RangeStream>());

} // namespace

static RangeStream* range_of(Stream* s) {
    return reinterpret_cast<RangeStream*>(s);
}

// How many of n bytes the window allows at the position, after putting
// inner where the window's position lies. Others may have moved inner
// since the last transfer; an unchanged inner costs no seek. A place that
// inner cannot reach (beyond what a signed seek offset can name, or a seek
// that did not arrive) gives 0 rather than a transfer at the wrong place.
static uint32_t range_prepare(RangeStream* r, uint32_t n) {
    if (r->position >= r->length) {
        return 0;
    }
    uint64_t target = uint64_t(r->start) + r->position;
    if (target > INT32_MAX) {
        return 0;
    }
    if (stream_tell(r->inner) != target &&
        stream_seek(r->inner, int32_t(target), STREAM_SEEK_BEGIN) != target) {
        return 0;
    }
    uint32_t left = r->length - r->position;
    return n < left ? n : left;
}

static void range_close(Stream* s) {
    RangeStream* r = range_of(s);
    if (r->owns) {
        stream_close(r->inner);
    }
    mem_free(r);
}

static uint32_t range_read(Stream* s, void* buffer, uint32_t n) {
    RangeStream* r = range_of(s);
    n = range_prepare(r, n);
    uint32_t count = n ? stream_read(r->inner, buffer, n) : 0;
    r->position += count;
    return count;
}

static uint32_t range_write(Stream* s, const void* buffer, uint32_t n) {
    RangeStream* r = range_of(s);
    n = range_prepare(r, n);
    uint32_t count = n ? stream_write(r->inner, buffer, n) : 0;
    r->position += count;
    return count;
}

// Clamped below at 0; above, a position past the window simply transfers
// nothing, but it must not wrap round to the window's start.
static uint32_t range_seek(Stream* s, int32_t offset, int origin) {
    RangeStream* r = range_of(s);
    int64_t target;
    switch (origin) {
    case STREAM_SEEK_BEGIN:
        target = offset;
        break;
    case STREAM_SEEK_CURRENT:
        target = int64_t(r->position) + offset;
        break;
    case STREAM_SEEK_END:
        target = int64_t(r->length) + offset;
        break;
    default:
        return 0;
    }
    if (target < 0) {
        target = 0;
    } else if (target > UINT32_MAX) {
        target = UINT32_MAX;
    }
    r->position = uint32_t(target);
    return r->position;
}

static uint32_t range_tell(Stream* s) {
    return range_of(s)->position;
}
static uint32_t range_size(Stream* s) {
    return range_of(s)->length;
}

static uint32_t range_state(Stream* s) {
    RangeStream* r = range_of(s);
    return r->position < r->length ? STREAM_STATE_MORE : STREAM_STATE_END;
}

static const StreamOps range_ops = {
    .close = range_close,
    .read = range_read,
    .write = range_write,
    .flush = stream_filter_flush,
    .seek = range_seek,
    .tell = range_tell,
    .size = range_size,
    .state = range_state,
};

Stream* stream_open_range(Stream* inner, int owns, uint32_t start, uint32_t length, uint32_t flags,
                          Allocator* allocator) {
    RangeStream* r =
        static_cast<RangeStream*>(stream_filter_alloc(inner, sizeof(RangeStream), allocator));
    if (!r) {
        return nullptr;
    }
    *r = {&range_ops, inner, owns, start, length, 0};
    return reinterpret_cast<Stream*>(r);
}
