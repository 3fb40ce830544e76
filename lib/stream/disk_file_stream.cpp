#include "platform/platform.h"
#include "stream/file_handles.h"
#include "stream/stream.h"
#include "stream_seek.h"
#include "support/memory.h"

namespace {

struct DiskFileStream {
    const StreamOps* ops;
    PlatformFile handle; // closed with the stream when owned
    bool owned;
    uint32_t start;    // absolute file offset of the window
    uint32_t length;   // grows when a write ends beyond it
    uint32_t position; // within the window
};

// Positions and sizes are 32-bit and compared unsigned everywhere, so no
// file may reach 2 GiB: a byte at 2^31 or beyond is never read or written.
constexpr uint32_t DISK_FILE_LIMIT = 0x7FFFFFFFu;

} // namespace

static DiskFileStream* disk_of(Stream* s) {
    return reinterpret_cast<DiskFileStream*>(s);
}

static void disk_close(Stream* s) {
    DiskFileStream* d = disk_of(s);
    if (d->owned && d->handle != PLATFORM_INVALID_FILE) {
        platform_file_close(d->handle);
    }
    mem_free(d);
}

static uint32_t disk_read(Stream* s, void* buffer, uint32_t n) {
    DiskFileStream* d = disk_of(s);
    if (d->position >= d->length) {
        return 0;
    }
    uint32_t left = d->length - d->position;
    if (n > left) {
        n = left;
    }
    uint32_t count = platform_file_read_at(d->handle, d->start + d->position, buffer, n);
    d->position += count;
    return count;
}

// Not cut to the window, so a stream opened for writing grows; but cut at
// the 2 GiB line, where the file would become unreadable to every stream
// and a 32-bit position would wrap onto earlier data.
static uint32_t disk_write(Stream* s, const void* buffer, uint32_t n) {
    DiskFileStream* d = disk_of(s);
    uint64_t at = uint64_t(d->start) + d->position;
    if (at >= DISK_FILE_LIMIT) {
        return 0;
    }
    if (n > DISK_FILE_LIMIT - at) {
        n = uint32_t(DISK_FILE_LIMIT - at);
    }
    uint32_t count = platform_file_write_at(d->handle, uint32_t(at), buffer, n);
    // A short write never shrinks the window below bytes that exist.
    if (d->position + count > d->length) {
        d->length = d->position + count;
    }
    d->position += count;
    return count;
}

static void disk_flush(Stream*) {}

static uint32_t disk_seek(Stream* s, int32_t offset, int origin) {
    DiskFileStream* d = disk_of(s);
    uint32_t target;
    if (!stream_seek_target(d->position, d->length, offset, origin, &target)) {
        return 0;
    }
    d->position = target;
    return target;
}

static uint32_t disk_tell(Stream* s) {
    return disk_of(s)->position;
}
static uint32_t disk_size(Stream* s) {
    return disk_of(s)->length;
}

static uint32_t disk_state(Stream* s) {
    DiskFileStream* d = disk_of(s);
    return d->position < d->length ? STREAM_STATE_MORE : STREAM_STATE_END;
}

static const StreamOps disk_ops = {
    .close = disk_close,
    .read = disk_read,
    .write = disk_write,
    .flush = disk_flush,
    .seek = disk_seek,
    .tell = disk_tell,
    .size = disk_size,
    .state = disk_state,
};

static bool disk_request(uint32_t flags, unsigned* access, PlatformDisposition* disposition) {
    switch (flags & (STREAM_OPEN_READ | STREAM_OPEN_WRITE)) {
    case STREAM_OPEN_READ:
        *access = PLATFORM_ACCESS_READ;
        *disposition = PLATFORM_OPEN_EXISTING;
        return true;
    case STREAM_OPEN_WRITE:
        *access = PLATFORM_ACCESS_WRITE;
        *disposition = PLATFORM_CREATE_ALWAYS;
        return true;
    case STREAM_OPEN_READ | STREAM_OPEN_WRITE:
        *access = PLATFORM_ACCESS_READ | PLATFORM_ACCESS_WRITE;
        *disposition = PLATFORM_OPEN_ALWAYS;
        return true;
    default:
        return false;
    }
}

Stream* stream_open_file(const char* path, uint32_t start, uint32_t length, uint32_t flags,
                         Allocator* allocator) {
    unsigned access;
    PlatformDisposition disposition;
    if (!path || !disk_request(flags, &access, &disposition)) {
        return nullptr;
    }
    PlatformFile handle = platform_file_open(path, access, disposition);
    if (handle == PLATFORM_INVALID_FILE) {
        return nullptr;
    }
    DiskFileStream* d = static_cast<DiskFileStream*>(mem_alloc(allocator, sizeof *d, 0));
    if (!d) {
        platform_file_close(handle);
        return nullptr;
    }
    *d = {&disk_ops, handle, true, 0, 0, 0};

    // The high word counts too: a file of 4 GiB and more must not pass as
    // the small file its low word describes.
    uint32_t size = 0, high = 0;
    if (!platform_file_size(handle, &size, &high)) {
        size = high = 0;
    }
    if (high != 0 || size > DISK_FILE_LIMIT || start > size) {
        disk_close(reinterpret_cast<Stream*>(d));
        return nullptr;
    }
    d->start = start;
    d->length = length != 0 && uint64_t(start) + length <= size ? length : size - start;

    Stream* s = reinterpret_cast<Stream*>(d);
    return flags & STREAM_OPEN_LOAD ? stream_load(s, allocator) : s;
}

Stream* stream_open_handle(PlatformFile file, uint32_t flags, Allocator* allocator) {
    if (file == PLATFORM_INVALID_FILE || !(flags & (STREAM_OPEN_READ | STREAM_OPEN_WRITE))) {
        return nullptr;
    }
    uint32_t size = 0, high = 0;
    if (!platform_file_size(file, &size, &high) || high != 0 || size > DISK_FILE_LIMIT) {
        return nullptr;
    }
    DiskFileStream* d = static_cast<DiskFileStream*>(mem_alloc(allocator, sizeof *d, 0));
    if (!d) {
        return nullptr;
    }
    *d = {&disk_ops, file, false, 0, size, 0};
    return reinterpret_cast<Stream*>(d);
}

bool stream_copy_from_shared_by_kernel(const Stream* output, uint32_t position) {
    if (output->ops != &disk_ops) {
        return false;
    }
    const DiskFileStream* d = reinterpret_cast<const DiskFileStream*>(output);
    uint64_t at = uint64_t(d->start) + d->position;
    return at < DISK_FILE_LIMIT && platform_file_copy_by_kernel(position, uint32_t(at));
}

uint32_t stream_copy_from_shared(Stream* output, SharedFile* from, uint32_t position,
                                 uint32_t count) {
    if (output->ops == &disk_ops) {
        DiskFileStream* d = disk_of(output);
        uint64_t at = uint64_t(d->start) + d->position;
        if (at >= DISK_FILE_LIMIT) {
            return 0;
        }
        if (count > DISK_FILE_LIMIT - at) {
            count = uint32_t(DISK_FILE_LIMIT - at);
        }
        uint32_t copied =
            platform_file_copy(shared_file_handle(from), position, d->handle, uint32_t(at), count);
        if (d->position + copied > d->length) {
            d->length = d->position + copied;
        }
        d->position += copied;
        return copied;
    }
    constexpr uint32_t BUFFER_SIZE = 64 * 1024;
    unsigned char* buffer = static_cast<unsigned char*>(mem_alloc(nullptr, BUFFER_SIZE, 0));
    if (!buffer) {
        return 0;
    }
    uint32_t done = 0;
    while (done < count) {
        uint32_t want = count - done < BUFFER_SIZE ? count - done : BUFFER_SIZE;
        uint32_t n = platform_file_read_at(shared_file_handle(from), position + done, buffer, want);
        uint32_t written = n ? stream_write(output, buffer, n) : 0;
        done += written;
        if (n == 0 || written < n) {
            break;
        }
    }
    mem_free(buffer);
    return done;
}
