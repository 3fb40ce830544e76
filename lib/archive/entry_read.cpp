#include "archive/entry_read.h"

#include "stream/stream.h"
#include "stream/stream_ptr.h"

EntryReadResult entry_read_stream(Stream* stream, uint32_t size, bool compressed,
                                  const EntrySink& sink, unsigned char* buffer, uint32_t capacity) {
    EntryReadResult result;
    if (!stream) {
        result.problem = "cannot be opened";
        return result;
    }
    result.opened = true;
    bool too_long = false;
    // Read on until the stream says it has ended: an inflating entry checks
    // its end (and Adler-32) only when asked for more, even when it is empty.
    while (!too_long && stream_state(stream) != STREAM_STATE_END) {
        uint32_t n = stream_read(stream, buffer, capacity);
        if (n == 0) {
            break;
        }
        uint64_t room = size > result.delivered ? size - result.delivered : 0;
        uint32_t take = n > room ? static_cast<uint32_t>(room) : n;
        too_long = take < n;
        result.delivered += n;
        if (take > 0 && sink && !sink(buffer, take)) {
            result.sink_failed = true;
            return result;
        }
    }
    if (result.delivered != size) {
        result.problem =
            "wrong length: " +
            (too_long ? "more than " + std::to_string(size)
                      : std::to_string(result.delivered) + " of " + std::to_string(size)) +
            " bytes" + (compressed ? " (broken zlib data)" : "");
    } else if (compressed && entry_stream_cut(stream)) {
        result.unchecked = true;
    } else if (compressed && !entry_stream_intact(stream)) {
        result.problem = "broken zlib data or bad Adler-32 checksum";
    }
    return result;
}

EntryReadResult archive_read_entry(FileSystem* fs, const ArchiveEntryInfo& info,
                                   const EntrySink& sink, unsigned char* buffer,
                                   uint32_t capacity) {
    StreamPtr entry(archive_open_entry_at(fs, &info, nullptr));
    return entry_read_stream(entry.get(), info.size, info.stored_size != info.size, sink, buffer,
                             capacity);
}
