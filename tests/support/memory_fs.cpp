#include "support/memory_fs.h"

#include <cstring>

#include "fs/filesystem.h"
#include "stream/stream.h"
#include "support/memory.h"

namespace {

struct MemoryFs {
    FileSystemHeader header;
    MemoryTree tree;
};

MemoryFs* memory_of(FileSystem* fs) {
    return reinterpret_cast<MemoryFs*>(fs);
}

const MemoryEntry* find_file(const MemoryFs& fs, const char* path) {
    std::string full = path;
    if (full.empty() || full[0] != '/') {
        full.insert(full.begin(), '/');
    }
    for (const MemoryEntry& entry : fs.tree.entries) {
        if (!entry.directory && entry.path == full) {
            return &entry;
        }
    }
    return nullptr;
}

int memory_close(FileSystem* fs) {
    delete memory_of(fs);
    return 1;
}

// The stream owns a copy of the content, taken from the caller's allocator
// so that mem_free can give it back.
Stream* memory_open(FileSystem* fs, const char* path, uint32_t, uint32_t, uint32_t flags,
                    Allocator* allocator) {
    if (!path || (flags & STREAM_OPEN_WRITE)) {
        return nullptr;
    }
    const MemoryFs& self = *memory_of(fs);
    const MemoryEntry* entry = find_file(self, path);
    if (!entry || self.tree.unopenable.count(entry->path)) {
        return nullptr;
    }
    uint32_t size = static_cast<uint32_t>(entry->content.size());
    auto* copy = static_cast<char*>(mem_alloc(allocator, size ? size : 1, 0));
    if (!copy) {
        return nullptr;
    }
    std::memcpy(copy, entry->content.data(), size);
    // A stream that claims the full size but ends early: a shorter memory
    // window inside a range that claims the full length.
    auto shortfall = self.tree.short_by.find(entry->path);
    uint32_t delivered = shortfall == self.tree.short_by.end() ? size : size - shortfall->second;
    Stream* stream = stream_open_memory(copy, delivered, STREAM_OPEN_READ, 1, allocator);
    if (!stream) {
        mem_free(copy);
        return nullptr;
    }
    if (delivered == size) {
        return stream;
    }
    Stream* claimed = stream_open_range(stream, 1, 0, size, STREAM_OPEN_READ, allocator);
    if (!claimed) {
        stream_close(stream);
    }
    return claimed;
}

int memory_enumerate(FileSystem* fs, const char* path, int recursive, void* context,
                     EnumCallback callback) {
    if (std::strcmp(path, "/") != 0) {
        return 0;
    }
    for (const MemoryEntry& item : memory_of(fs)->tree.entries) {
        if (!recursive && item.path.find('/', 1) != std::string::npos) {
            continue;
        }
        DirEntry entry{};
        std::strncpy(entry.name, item.path.c_str(), sizeof entry.name - 1);
        entry.size = item.directory ? 0 : static_cast<uint32_t>(item.content.size());
        entry.attributes = item.directory ? DIRENTRY_DIRECTORY : 0;
        if (callback) {
            callback(context, fs, &entry);
        }
    }
    return 1;
}

const FileSystemOps memory_fs_ops = {memory_close, memory_open, memory_enumerate, nullptr, nullptr};

} // namespace

FileSystem* memory_fs_open(const MemoryTree& tree) {
    auto* fs = new MemoryFs{};
    fs->header.ops = &memory_fs_ops;
    fs->tree = tree;
    return reinterpret_cast<FileSystem*>(fs);
}

FileSystem* memory_fs_open(const std::vector<MemoryEntry>& entries) {
    return memory_fs_open(MemoryTree{entries, {}, {}});
}
