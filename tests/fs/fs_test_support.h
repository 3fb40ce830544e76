// Shared pieces of the file-system tests: a recording enumeration callback
// and a fake file system kind whose table the tests fill as they need.
#pragma once

#include <string>
#include <vector>

#include "fs/filesystem.h"

struct SeenEntry {
    std::string name;
    uint32_t size;
    uint32_t attributes;
    FileSystem* fs;
};

struct EntryLog {
    std::vector<SeenEntry> entries;

    static int record(void* context, FileSystem* fs, DirEntry* entry) {
        static_cast<EntryLog*>(context)->entries.push_back(
            {entry->name, entry->size, entry->attributes, fs});
        return 0;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const SeenEntry& e : entries) {
            out.push_back(e.name);
        }
        return out;
    }
    const SeenEntry* find(const std::string& name) const {
        for (const SeenEntry& e : entries) {
            if (e.name == name) {
                return &e;
            }
        }
        return nullptr;
    }
};

// A file system whose operations log what reached them.
struct FakeFs {
    // The object the library sees; it leads back to the fake.
    struct Record {
        FileSystem base;
        FakeFs* self;
    } record{};
    std::vector<std::string> calls;
    std::string last_path;
    uint32_t last_offset = 0, last_length = 0, last_flags = 0;
    Allocator* last_allocator = nullptr;
    int last_recursive = 0;
    void* last_context = nullptr;
    EnumCallback last_callback = nullptr;
    int result = 7;
    Stream* stream = reinterpret_cast<Stream*>(&result); // a token, never used as a stream

    explicit FakeFs(const FileSystemOps* ops) {
        record.base.header.ops = ops;
        record.self = this;
    }
    FakeFs(const FakeFs&) = delete;
    FakeFs& operator=(const FakeFs&) = delete;
    FileSystem* fs() { return &record.base; }
    static FakeFs* of(FileSystem* fs) { return reinterpret_cast<Record*>(fs)->self; }

    // Logs a call that reached the fake, with the path it named if any.
    static FakeFs* called(FileSystem* fs, const char* operation, const char* path = nullptr) {
        FakeFs* f = of(fs);
        f->calls.push_back(operation);
        if (path) {
            f->last_path = path;
        }
        return f;
    }

    static int close(FileSystem* fs) { return called(fs, "close")->result; }
    static Stream* open(FileSystem* fs, const char* path, uint32_t offset, uint32_t length,
                        uint32_t flags, Allocator* allocator) {
        FakeFs* f = called(fs, "open", path);
        f->last_offset = offset;
        f->last_length = length;
        f->last_flags = flags;
        f->last_allocator = allocator;
        return f->stream;
    }
    static int enumerate(FileSystem* fs, const char* path, int recursive, void* context,
                         EnumCallback callback) {
        FakeFs* f = called(fs, "enumerate", path);
        f->last_recursive = recursive;
        f->last_context = context;
        f->last_callback = callback;
        return f->result;
    }
    static int make_dir(FileSystem* fs, const char* path) {
        return called(fs, "make_dir", path)->result;
    }
    static int remove_dir(FileSystem* fs, const char* path) {
        return called(fs, "remove_dir", path)->result;
    }
};

inline const FileSystemOps fake_full_ops = {FakeFs::close, FakeFs::open, FakeFs::enumerate,
                                            FakeFs::make_dir, FakeFs::remove_dir};
