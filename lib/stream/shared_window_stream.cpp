// A read-only window onto a shared file. Every read names its position, so
// streams on several threads read one handle without disturbing each other.
#include "stream/file_handles.h"
#include "stream/stream.h"
#include "stream_seek.h"
#include "support/memory.h"

namespace {

struct SharedWindowStream {
    const StreamOps* ops;
    SharedFile* file; // one reference held
    uint32_t start;
    uint32_t length;
    uint32_t position;
};

SharedWindowStream* window_of(Stream* s) {
    return reinterpret_cast<SharedWindowStream*>(s);
}

void window_close(Stream* s) {
    SharedWindowStream* w = window_of(s);
    shared_file_release(w->file);
    mem_free(w);
}

uint32_t window_read(Stream* s, void* buffer, uint32_t n) {
    SharedWindowStream* w = window_of(s);
    if (w->position >= w->length) {
        return 0;
    }
    if (n > w->length - w->position) {
        n = w->length - w->position;
    }
    uint32_t count =
        platform_file_read_at(shared_file_handle(w->file), w->start + w->position, buffer, n);
    w->position += count;
    return count;
}

uint32_t window_write(Stream*, const void*, uint32_t) {
    return 0;
}

void window_flush(Stream*) {}

uint32_t window_seek(Stream* s, int32_t offset, int origin) {
    SharedWindowStream* w = window_of(s);
    uint32_t target;
    if (!stream_seek_target(w->position, w->length, offset, origin, &target)) {
        return 0;
    }
    w->position = target;
    return target;
}

uint32_t window_tell(Stream* s) {
    return window_of(s)->position;
}

uint32_t window_size(Stream* s) {
    return window_of(s)->length;
}

uint32_t window_state(Stream* s) {
    SharedWindowStream* w = window_of(s);
    return w->position < w->length ? STREAM_STATE_MORE : STREAM_STATE_END;
}

const StreamOps shared_window_ops = {
    .close = window_close,
    .read = window_read,
    .write = window_write,
    .flush = window_flush,
    .seek = window_seek,
    .tell = window_tell,
    .size = window_size,
    .state = window_state,
};

} // namespace

Stream* stream_open_shared(SharedFile* file, uint32_t start, uint32_t length,
                           Allocator* allocator) {
    if (!file) {
        return nullptr;
    }
    auto* w = static_cast<SharedWindowStream*>(mem_alloc(allocator, sizeof(SharedWindowStream), 0));
    if (!w) {
        return nullptr;
    }
    shared_file_retain(file);
    *w = {&shared_window_ops, file, start, length, 0};
    return reinterpret_cast<Stream*>(w);
}
