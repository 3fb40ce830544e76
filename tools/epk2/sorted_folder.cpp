#include "sorted_folder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "fs/disk_fs.h"
#include "fs/filesystem.h"
#include "tool_support.h"

namespace {

// Only what enumeration reports, not whole DirEntry records: a folder of
// 65,535 files would otherwise hold 34 MB of mostly empty name buffers.
struct WalkedEntry {
    std::string name; // from "/"
    uint32_t size;
    uint32_t attributes;
};

struct SortedFolder {
    FileSystemHeader header;
    FileSystem* disk;
    std::vector<WalkedEntry> entries; // full walk in sorted order
};

int collect(void* context, FileSystem*, DirEntry* entry) {
    static_cast<std::vector<DirEntry>*>(context)->push_back(*entry);
    return 1;
}

bool walk(FileSystem* disk, const std::string& prefix, std::vector<WalkedEntry>& out,
          std::string& error, std::vector<std::string>& skipped) {
    std::vector<DirEntry> level;
    MessageCapture capture;
    const std::string where = prefix.empty() ? "/" : prefix;
    if (!fs_enumerate(disk, where.c_str(), 0, &level, collect)) {
        error = "cannot list " + where;
        return false;
    }
    if (!capture.messages().empty()) {
        error = capture.last();
        return false;
    }
    std::sort(level.begin(), level.end(), [](const DirEntry& a, const DirEntry& b) {
        return std::strcmp(a.name, b.name) < 0; // strcmp orders bytes as unsigned
    });
    for (const DirEntry& entry : level) {
        std::string name = prefix + entry.name; // the walk's names start with "/"
        if (name.size() >= sizeof entry.name) {
            error = "a path is longer than 511 bytes: " + name;
            return false;
        }
        if (entry.attributes & DIRENTRY_SPECIAL) {
            skipped.push_back(name); // reading a FIFO could wait for ever
            continue;
        }
        out.push_back({name, entry.size, entry.attributes});
        if ((entry.attributes & DIRENTRY_DIRECTORY) && !walk(disk, name, out, error, skipped)) {
            return false;
        }
    }
    return true;
}

int sorted_close(FileSystem* fs) {
    auto* folder = reinterpret_cast<SortedFolder*>(fs);
    fs_close(folder->disk);
    delete folder;
    return 1;
}

Stream* sorted_open(FileSystem* fs, const char* path, uint32_t offset, uint32_t length,
                    uint32_t flags, Allocator* allocator) {
    auto* folder = reinterpret_cast<SortedFolder*>(fs);
    return fs_open(folder->disk, path, offset, length, flags, allocator);
}

int sorted_enumerate(FileSystem* fs, const char* path, int recursive, void* context,
                     EnumCallback callback) {
    auto* folder = reinterpret_cast<SortedFolder*>(fs);
    std::string base = path;
    if (!base.empty() && base[0] != '/') {
        base = "/" + base;
    }
    if (base == "/") {
        base.clear();
    }
    bool found = base.empty();
    for (const WalkedEntry& entry : folder->entries) {
        if (!base.empty() && base == entry.name && (entry.attributes & DIRENTRY_DIRECTORY)) {
            found = true;
        }
    }
    if (!found) {
        return 0;
    }
    DirEntry entry;
    for (const WalkedEntry& walked : folder->entries) {
        const std::string& name = walked.name;
        if (name.size() <= base.size() || name.compare(0, base.size(), base) != 0 ||
            name[base.size()] != '/') {
            continue;
        }
        if (!recursive && name.find('/', base.size() + 1) != std::string::npos) {
            continue;
        }
        std::memcpy(entry.name, name.c_str() + base.size(), name.size() - base.size() + 1);
        entry.size = walked.size;
        entry.attributes = walked.attributes;
        callback(context, fs, &entry);
    }
    return 1;
}

const FileSystemOps sorted_folder_ops = {sorted_close, sorted_open, sorted_enumerate, nullptr,
                                         nullptr};

} // namespace

FileSystem* sorted_folder_open(const std::string& root, std::string& error,
                               std::vector<std::string>& skipped) {
    FileSystem* disk = disk_fs_create(nullptr, root.c_str(), nullptr);
    if (!disk) {
        error = "out of memory";
        return nullptr;
    }
    auto* folder = new (std::nothrow) SortedFolder{};
    if (!folder) {
        fs_close(disk);
        error = "out of memory";
        return nullptr;
    }
    folder->header.ops = &sorted_folder_ops;
    folder->disk = disk;
    if (!walk(disk, "", folder->entries, error, skipped)) {
        sorted_close(reinterpret_cast<FileSystem*>(folder));
        return nullptr;
    }
    return reinterpret_cast<FileSystem*>(folder);
}
