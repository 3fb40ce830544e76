#include "archive/archive_test_support.h"

#include <gtest/gtest.h>

#include "archive/entry_read.h"
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

static void collect_finding(void* context, ArchiveVerdict verdict, const char* where,
                            const char* reason) {
    static_cast<ArchiveJudgement*>(context)->findings.push_back({verdict, where, reason});
}

namespace {

struct Walk {
    FileSystem* fs;
    ArchiveJudgement* judgement;
};

} // namespace

static void read_record(void* context, const DirEntry* entry, const ArchiveEntryInfo* info) {
    Walk* walk = static_cast<Walk*>(context);
    if (!info) {
        ++walk->judgement->dirs;
        return;
    }
    ++walk->judgement->files;
    unsigned char buffer[4096];
    EntryReadResult read = archive_read_entry(
        walk->fs, *info, [](const unsigned char*, uint32_t) { return true; }, buffer,
        sizeof buffer);
    if (!read.whole()) {
        walk->judgement->damaged.push_back(entry->name);
    }
    // The lookup by path must stay inside the archive just as well.
    if (Stream* s = fs_open(walk->fs, entry->name, 0, 0, STREAM_OPEN_READ, nullptr)) {
        read_and_close(s, 512, 1u << 20);
    }
}

ArchiveJudgement judge_archive(const std::string& bytes, const std::string* path) {
    ArchiveJudgement judgement;
    CountingAllocator allocator;
    {
        RawMessageCapture messages;
        FileSystem* fs =
            path ? archive_open(nullptr, path->c_str(), &allocator.base)
                 : archive_open_memory(bytes.data(), uint32_t(bytes.size()), &allocator.base);
        if (!fs) {
            judgement.refusal = messages.messages().empty() ? "" : messages.messages().back();
            EXPECT_EQ(judgement.refusal.rfind("Error: ", 0), 0u) << "refused without a word";
        } else {
            judgement.opened = true;
            // From a file the check reads the reserved words and the padding
            // through it; from memory it needs the bytes.
            archive_check(fs, path ? nullptr : bytes.data(), path ? 0 : uint32_t(bytes.size()),
                          &judgement, collect_finding);
            Walk walk{fs, &judgement};
            archive_enumerate_records(fs, "/", 1, &walk, read_record);
            fs_close(fs);
        }
    }
    EXPECT_EQ(allocator.live_blocks, 0);
    return judgement;
}
