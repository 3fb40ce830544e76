#include "archive/memory_fs.h"

#include <cstring>

#include "fs/filesystem.h"
#include "stream/stream.h"
#include "support/memory.h"

namespace {

struct MemoryFs {
    FileSystemHeader header;
    MemoryFsSpec spec;
};

const std::pair<std::string, std::string>* find(const MemoryFs& fs, std::string path) {
    if (path.empty() || path[0] != '/') {
        path = "/" + path;
    }
    for (const auto& entry : fs.spec.entries) {
        if (entry.first == path) {
            return &entry;
        }
    }
    return nullptr;
}

int memory_close(FileSystem* fs) {
    delete reinterpret_cast<MemoryFs*>(fs);
    return 1;
}

Stream* memory_open(FileSystem* fs, const char* path, uint32_t, uint32_t, uint32_t,
                    Allocator* allocator) {
    auto& self = *reinterpret_cast<MemoryFs*>(fs);
    const auto* entry = find(self, path);
    if (!entry || entry->first.back() == '/' || self.spec.unopenable.count(entry->first)) {
        return nullptr;
    }
    uint32_t size = static_cast<uint32_t>(entry->second.size());
    auto* copy = static_cast<char*>(mem_alloc(allocator, size ? size : 1, 0));
    std::memcpy(copy, entry->second.data(), size);
    // A stream that claims the full size but ends early: a memory window that
    // is shorter, inside a range that claims the full length.
    auto shortfall = self.spec.short_by.find(entry->first);
    if (shortfall != self.spec.short_by.end()) {
        Stream* shorter = stream_open_memory(copy, size - shortfall->second, 0, 1, allocator);
        return stream_open_range(shorter, 1, 0, size, 0, allocator);
    }
    return stream_open_memory(copy, size, 0, 1, allocator);
}

int memory_enumerate(FileSystem* fs, const char* path, int recursive, void* context,
                     EnumCallback callback) {
    auto& self = *reinterpret_cast<MemoryFs*>(fs);
    if (std::strcmp(path, "/") != 0) {
        return 0;
    }
    for (const auto& [name, content] : self.spec.entries) {
        bool directory = name.back() == '/';
        std::string shown = directory ? name.substr(0, name.size() - 1) : name;
        if (!recursive && shown.find('/', 1) != std::string::npos) {
            continue;
        }
        DirEntry entry{};
        std::strncpy(entry.name, shown.c_str(), sizeof entry.name - 1);
        entry.size = directory ? 0 : static_cast<uint32_t>(content.size());
        entry.attributes = directory ? DIRENTRY_DIRECTORY : 0;
        callback(context, fs, &entry);
    }
    return 1;
}

const FileSystemOps memory_fs_ops = {memory_close, memory_open, memory_enumerate, nullptr, nullptr};

} // namespace

FileSystem* memory_fs_create(const MemoryFsSpec& spec) {
    auto* fs = new MemoryFs{};
    fs->header.ops = &memory_fs_ops;
    fs->spec = spec;
    return reinterpret_cast<FileSystem*>(fs);
}
