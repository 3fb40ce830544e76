// Runs of copied entries. An update carries most of the installed archive
// over unchanged, and its entries lie back to back in the source file as
// they will in the output. Such a run moves in a few large blocks, read,
// given each entry's head under its new key and zeros for any padding that
// is not, and written once; or, where the platform would let the kernel copy
// between the two positions, copied from file to file in one call with only
// the changed heads and padding written over it. The bytes come out exactly
// as copying entry by entry would make them.
#include <algorithm>
#include <cstring>
#include <span>

#include "archive/epk2_format.h"
#include "builder_internal.h"
#include "stream/file_handles.h"
#include "stream/stream.h"

namespace {

// A run ends after this many bytes or files, so that progress is reported
// (and a dialog gets to answer its messages) every few milliseconds while
// the bulk of the copy still goes in few calls.
constexpr uint64_t RUN_MAX_BYTES = 8u << 20;
constexpr uint32_t RUN_MAX_FILES = 256;

// The run's files all come from this file, in place.
bool joins_run(const BuilderFile& file, SharedFile* shared, bool recompress) {
    return file.has_record && file.record.stored_size > 0 &&
           file.record.data_offset % EPK2_ALIGNMENT == 0 &&
           archive_shared_file(file.source) == shared && builder_copies_in_place(file, recompress);
}

uint64_t stored_end(const BuilderFile& file) {
    return uint64_t(file.record.data_offset) + file.record.stored_size;
}

bool all_zeros(const unsigned char* bytes, size_t count) {
    return std::all_of(bytes, bytes + count, [](unsigned char b) { return b == 0; });
}

} // namespace

uint32_t builder_copy_run_length(const std::vector<BuilderFile*>& files, uint32_t first,
                                 bool recompress) {
    const BuilderFile& head = *files[first];
    SharedFile* shared = archive_shared_file(head.source);
    if (!shared || !joins_run(head, shared, recompress)) {
        return 0;
    }
    uint64_t file_size = shared_file_size(shared);
    uint32_t end = first;
    uint64_t next = head.record.data_offset;
    while (end < files.size() && end - first < RUN_MAX_FILES &&
           next - head.record.data_offset < RUN_MAX_BYTES &&
           joins_run(*files[end], shared, recompress) && files[end]->record.data_offset == next &&
           epk2_align(uint32_t(stored_end(*files[end]))) <= file_size) {
        next = epk2_align(uint32_t(stored_end(*files[end])));
        ++end;
    }
    return end - first >= 2 ? end - first : 0;
}

namespace {

// Where a run's entry lies in the source, and what changes on its way over.
struct RunEntry {
    uint32_t start;       // the data's first byte in the source
    uint32_t head_end;    // the end of its scrambled head
    uint32_t data_end;    // the end of its stored bytes
    uint32_t padding_end; // the aligned end, up to which zeros follow
    uint8_t old_key;
    uint8_t new_key;
};

// Applies to bytes [from, from + count) of the source what the run's
// entries need there: heads under their new keys, padding cleared. next is
// the first entry that may reach into these bytes and moves past those that
// end in them.
void fix_block(unsigned char* bytes, uint32_t from, uint32_t count,
               std::span<const RunEntry> entries, size_t& next) {
    const uint32_t to = from + count;
    for (size_t k = next; k < entries.size() && entries[k].start < to; ++k) {
        const RunEntry& e = entries[k];
        const uint32_t head_from = std::max(from, e.start);
        const uint32_t head_to = std::min(to, e.head_end);
        if (head_from < head_to) {
            builder_rekey(bytes + (head_from - from), head_to - head_from, head_from - e.start,
                          e.old_key, e.new_key);
        }
        const uint32_t pad_from = std::max(from, e.data_end);
        const uint32_t pad_to = std::min(to, e.padding_end);
        if (pad_from < pad_to) {
            std::memset(bytes + (pad_from - from), 0, pad_to - pad_from);
        }
        if (e.padding_end <= to) {
            next = k + 1;
        }
    }
}

// The run through memory, a block at a time: read, fixed, written once.
bool copy_run_through_memory(Stream* output, SharedFile* shared, uint32_t source_start,
                             uint32_t length, const std::vector<RunEntry>& entries,
                             std::vector<unsigned char>& buffer) {
    size_t next = 0;
    for (uint32_t done = 0; done < length;) {
        const uint32_t count = std::min<uint32_t>(length - done, uint32_t(buffer.size()));
        if (platform_file_read_at(shared_file_handle(shared), source_start + done, buffer.data(),
                                  count) != count) {
            return false;
        }
        fix_block(buffer.data(), source_start + done, count, entries, next);
        if (stream_write(output, buffer.data(), count) != count) {
            return false;
        }
        done += count;
    }
    return true;
}

// The run copied from file to file, then the heads that change and any
// padding that is not zeros written over it.
bool copy_run_by_kernel(Stream* output, SharedFile* shared, uint32_t source_start,
                        uint32_t output_start, uint32_t length,
                        const std::vector<RunEntry>& entries) {
    if (stream_copy_from_shared(output, shared, source_start, length) != length) {
        return false;
    }
    // A head or a padding, never more than the scrambled part.
    unsigned char piece[EPK2_SCRAMBLE_LIMIT];
    auto rewrite = [&](uint32_t from, uint32_t to, const RunEntry& e, bool always) {
        const uint32_t count = to - from;
        if (platform_file_read_at(shared_file_handle(shared), from, piece, count) != count) {
            return false;
        }
        if (!always && all_zeros(piece, count)) {
            return true;
        }
        size_t next = 0;
        fix_block(piece, from, count, {&e, 1}, next);
        stream_seek(output, int32_t(output_start + (from - source_start)), STREAM_SEEK_BEGIN);
        return stream_write(output, piece, count) == count;
    };
    for (const RunEntry& e : entries) {
        if ((e.old_key != e.new_key && !rewrite(e.start, e.head_end, e, true)) ||
            (e.data_end < e.padding_end && !rewrite(e.data_end, e.padding_end, e, false))) {
            return false;
        }
    }
    return true;
}

} // namespace

bool builder_write_copy_run(Stream* output, const std::vector<BuilderFile*>& files, uint32_t first,
                            uint32_t count, uint32_t& offset, std::vector<unsigned char>& buffer,
                            std::string& error) {
    const BuilderFile& head = *files[first];
    const BuilderFile& last = *files[first + count - 1];
    SharedFile* shared = archive_shared_file(head.source);
    const uint32_t source_start = head.record.data_offset;
    const uint32_t length = epk2_align(uint32_t(stored_end(last))) - source_start;
    if (uint64_t(offset) + length > BUILDER_MAX_ARCHIVE) {
        error = "the archive would reach 2 GiB";
        return false;
    }
    const uint32_t output_start = offset;
    std::vector<RunEntry> entries;
    entries.reserve(count);
    for (uint32_t k = 0; k < count; ++k) {
        BuilderFile& file = *files[first + k];
        const ArchiveEntryInfo& record = file.record;
        file.key_number = static_cast<uint8_t>((first + k) % EPK2_KEY_COUNT + 1);
        file.data_offset = output_start + (record.data_offset - source_start);
        file.size = record.size;
        file.stored_size = record.stored_size;
        entries.push_back(
            {record.data_offset,
             record.data_offset + std::min<uint32_t>(EPK2_SCRAMBLE_LIMIT, record.stored_size),
             uint32_t(stored_end(file)), epk2_align(uint32_t(stored_end(file))), record.key,
             file.key_number});
    }

    stream_seek(output, static_cast<int32_t>(output_start), STREAM_SEEK_BEGIN);
    const bool copied =
        stream_copy_from_shared_by_kernel(output, source_start)
            ? copy_run_by_kernel(output, shared, source_start, output_start, length, entries)
            : copy_run_through_memory(output, shared, source_start, length, entries, buffer);
    if (!copied) {
        error = std::string("cannot copy ") + head.path + " and the " + std::to_string(count - 1) +
                " files after it into the archive (disk full?)";
        return false;
    }
    offset = output_start + length;
    stream_seek(output, static_cast<int32_t>(offset), STREAM_SEEK_BEGIN);
    return true;
}
