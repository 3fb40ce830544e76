#include "cli/cli.h"

#include <vector>

EntryReadResult read_entry(FileSystem* fs, const ArchiveEntryInfo& info, const EntrySink& sink) {
    MessageCapture quiet; // a missing archive file is reported by the caller
    static thread_local std::vector<unsigned char> buffer(1 << 20);
    return archive_read_entry(fs, info, sink, buffer.data(), static_cast<uint32_t>(buffer.size()));
}

EntryReadResult read_entry(FileSystem* fs, const std::string& path, const EntrySink& sink) {
    ArchiveEntryInfo info;
    if (!archive_entry_info(fs, path.c_str(), &info)) {
        EntryReadResult result;
        result.problem = "not in the archive";
        return result;
    }
    return read_entry(fs, info, sink);
}
