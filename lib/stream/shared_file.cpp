#include <atomic>
#include <new>

#include "stream/file_handles.h"
#include "support/memory.h"

struct SharedFile {
    PlatformFile handle;
    bool owned;
    bool too_large; // 4 GiB or more: the low word alone would lie
    uint32_t size;  // at open
    std::atomic<uint32_t> references;
    Allocator* allocator;
};

SharedFile* shared_file_adopt(PlatformFile file, bool owned, Allocator* allocator) {
    if (file == PLATFORM_INVALID_FILE) {
        return nullptr;
    }
    void* memory = mem_alloc(allocator, sizeof(SharedFile), 0);
    if (!memory) {
        if (owned) {
            platform_file_close(file);
        }
        return nullptr;
    }
    uint32_t low = 0, high = 0;
    bool sized = platform_file_size(file, &low, &high);
    auto* shared = new (memory) SharedFile{file, owned, !sized || high != 0, low, {1u}, allocator};
    return shared;
}

SharedFile* shared_file_open(const char* path, Allocator* allocator) {
    PlatformFile file = platform_file_open(
        path, PLATFORM_ACCESS_READ | PLATFORM_ACCESS_DENY_WRITERS, PLATFORM_OPEN_EXISTING);
    return shared_file_adopt(file, true, allocator);
}

void shared_file_retain(SharedFile* file) {
    file->references.fetch_add(1, std::memory_order_relaxed);
}

void shared_file_release(SharedFile* file) {
    if (!file || file->references.fetch_sub(1, std::memory_order_acq_rel) != 1) {
        return;
    }
    if (file->owned) {
        platform_file_close(file->handle);
    }
    file->~SharedFile();
    mem_free(file);
}

uint32_t shared_file_size(const SharedFile* file) {
    return file->too_large ? 0 : file->size;
}

bool shared_file_too_large(const SharedFile* file) {
    return file->too_large;
}

bool shared_file_changed(const SharedFile* file) {
    uint32_t low = 0, high = 0;
    return !platform_file_size(file->handle, &low, &high) || high != 0 || low != file->size;
}

PlatformFile shared_file_handle(const SharedFile* file) {
    return file->handle;
}
