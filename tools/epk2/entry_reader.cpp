#include "entry_reader.h"

#include <vector>

#include "archive/archive_fs.h"
#include "stream/stream.h"
#include "tool_support.h"

EntryReadResult read_entry(FileSystem* fs, const std::string& path, const EntrySink& sink) {
    ArchiveEntryInfo info;
    if (!archive_entry_info(fs, path.c_str(), &info)) {
        EntryReadResult result;
        result.problem = "not in the archive";
        return result;
    }
    return read_entry(fs, info, sink);
}

EntryReadResult read_entry(FileSystem* fs, const ArchiveEntryInfo& info, const EntrySink& sink) {
    EntryReadResult result;
    MessageCapture quiet; // a missing archive file is reported by the caller
    StreamPtr entry(archive_open_entry_at(fs, &info, nullptr));
    if (!entry) {
        result.problem = "cannot be opened";
        return result;
    }
    result.opened = true;
    static thread_local std::vector<char> buffer(1 << 20);
    while (stream_state(entry.get()) != STREAM_STATE_END) {
        uint32_t n = stream_read(entry.get(), buffer.data(), static_cast<uint32_t>(buffer.size()));
        if (n == 0) {
            break;
        }
        result.delivered += n;
        if (sink && !sink(buffer.data(), n)) {
            result.sink_failed = true;
            return result;
        }
    }
    bool compressed = info.stored_size != info.size;
    if (result.delivered != info.size) {
        result.problem = "wrong length: " + std::to_string(result.delivered) + " of " +
                         std::to_string(info.size) + " bytes" +
                         (compressed ? " (broken zlib data)" : "");
    } else if (compressed && !entry_stream_intact(entry.get())) {
        result.problem = "broken zlib data or bad Adler-32 checksum";
    }
    return result;
}
