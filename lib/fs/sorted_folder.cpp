#include "fs/sorted_folder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "fs/disk_fs.h"
#include "fs/filesystem.h"
#include "platform/platform.h"

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

struct Walk {
    std::string root; // host path, no trailing separator
    const std::vector<std::string>& leave_out;
    FolderWalkReport& report;
    std::string& error;
};

std::string shown(const Walk& walk, const std::string& cp932) {
    return walk.report.shown ? walk.report.shown(cp932) : cp932;
}

std::string last_error_text() {
    char text[512];
    return platform_error_text(platform_error_code(), text, sizeof text);
}

bool left_out(const Walk& walk, const std::string& name) {
    for (const std::string& path : walk.leave_out) {
        if (name == path || name.rfind(path + ".partial-", 0) == 0) {
            return true;
        }
    }
    return false;
}

// Lists one folder (prefix "" for the root, else "/a/b") and descends.
bool walk_folder(Walk& walk, const std::string& prefix, std::vector<WalkedEntry>& out) {
    std::string folder = walk.root;
    for (char c : prefix) {
        folder += c == '/' ? platform_separator() : c;
    }
    std::string pattern = folder + platform_separator() + "*";
    PlatformFindData data;
    PlatformFind find = platform_find_first(pattern.c_str(), &data);
    if (find == PLATFORM_INVALID_FIND) {
        walk.error = "cannot list " + shown(walk, prefix.empty() ? "/" : prefix) + ": " +
                     shown(walk, last_error_text());
        return false;
    }
    struct Found {
        std::string name;
        uint32_t size;
        uint32_t attributes;
    };
    std::vector<Found> level;
    do {
        if (std::strcmp(data.name, ".") == 0 || std::strcmp(data.name, "..") == 0) {
            continue;
        }
        if (data.name_unconvertible) {
            // The raw bytes are the terminal's own form of the name.
            walk.report.unrepresentable.push_back(shown(walk, prefix) + "/" + data.name);
            continue;
        }
        level.push_back({data.name, data.size_low, data.attributes});
    } while (platform_find_next(find, &data));
    platform_find_close(find);

    std::sort(level.begin(), level.end(), [](const Found& a, const Found& b) {
        return std::strcmp(a.name.c_str(), b.name.c_str()) < 0; // bytes, unsigned
    });
    for (const Found& found : level) {
        std::string name = prefix + "/" + found.name;
        if (name.size() >= FS_PATH_SIZE) {
            walk.error = "a path is longer than 511 bytes: " + shown(walk, name);
            return false;
        }
        if (left_out(walk, name)) {
            continue;
        }
        if (found.attributes & PLATFORM_ATTRIBUTE_SPECIAL) {
            walk.report.special.push_back(name);
            continue;
        }
        uint32_t attributes = 0;
        if (found.attributes & PLATFORM_ATTRIBUTE_DIRECTORY) {
            attributes |= DIRENTRY_DIRECTORY;
        }
        if (found.attributes & PLATFORM_ATTRIBUTE_READONLY) {
            attributes |= DIRENTRY_READONLY;
        }
        bool directory = attributes & DIRENTRY_DIRECTORY;
        out.push_back({name, directory ? 0 : found.size, attributes});
        if (directory && !walk_folder(walk, name, out)) {
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

const FileSystemOps sorted_folder_ops =
    fs_read_only_ops(sorted_close, sorted_open, sorted_enumerate);

} // namespace

FileSystem* sorted_folder_open(const std::string& root, const std::vector<std::string>& leave_out,
                               std::string& error, FolderWalkReport& report) {
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
    Walk walk{root, leave_out, report, error};
    if (!walk_folder(walk, "", folder->entries)) {
        sorted_close(reinterpret_cast<FileSystem*>(folder));
        return nullptr;
    }
    return reinterpret_cast<FileSystem*>(folder);
}
