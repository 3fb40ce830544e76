// The front that the filter kinds share: every filter's record starts with
// its operation table and then the stream it filters, so the operations that
// only pass a call on to that stream, and the check before a filter is made,
// serve them all.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream/stream.h"
#include "support/memory.h"

struct StreamFilter {
    const StreamOps* ops;
    Stream* inner;
};

// True when Record starts as StreamFilter does, so that the operations
// below may take a Stream* of that kind.
template <typename Record>
constexpr bool stream_filter_layout() {
    return offsetof(Record, ops) == offsetof(StreamFilter, ops) &&
           offsetof(Record, inner) == offsetof(StreamFilter, inner);
}

inline Stream* stream_filter_inner(Stream* s) {
    return reinterpret_cast<StreamFilter*>(s)->inner;
}

inline void stream_filter_flush(Stream* s) {
    stream_flush(stream_filter_inner(s));
}

inline uint32_t stream_filter_size(Stream* s) {
    return stream_size(stream_filter_inner(s));
}

inline uint32_t stream_filter_state(Stream* s) {
    return stream_state(stream_filter_inner(s));
}

// Memory for a filter's record of size bytes over inner; null when there is
// no inner (a failed open below hands its null on) or no memory. The caller
// fills the record in.
inline void* stream_filter_alloc(Stream* inner, uint32_t size, Allocator* allocator) {
    return inner ? mem_alloc(allocator, size, 0) : nullptr;
}
