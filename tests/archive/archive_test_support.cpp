#include "archive/archive_test_support.h"

#include "stream/stream.h"
#include "support/test_support.h"

std::string read_and_close(Stream* stream, uint32_t chunk, uint32_t limit) {
    std::string out;
    std::vector<char> buffer(chunk);
    while (out.size() < limit) {
        uint32_t n = stream_read(stream, buffer.data(), chunk);
        if (n == 0) {
            break;
        }
        out.append(buffer.data(), n);
    }
    stream_close(stream);
    return out;
}

static int collect(void* context, FileSystem*, DirEntry* entry) {
    static_cast<std::vector<SeenEntry>*>(context)->push_back(
        {entry->name, entry->size, entry->attributes});
    return 1;
}

std::vector<SeenEntry> enumerate_all(FileSystem* fs, const char* path, int recursive, int* result) {
    std::vector<SeenEntry> seen;
    int r = fs_enumerate(fs, path, recursive, &seen, collect);
    if (result) {
        *result = r;
    }
    return seen;
}

std::string save_archive(const TempDir& dir, const std::string& bytes, const std::string& name) {
    std::string path = dir.file(name);
    write_whole_file(path, bytes);
    return path;
}
