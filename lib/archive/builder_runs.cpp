// Runs of copied entries. An update carries most of the installed archive
// over unchanged, and its entries lie back to back in the source file as
// they will in the output: such a run is copied from file to file in one
// call, then only each entry's scrambled head is rewritten where the key
// changes, and any padding that is not zeros is cleared. The bytes come out
// exactly as copying entry by entry would make them.
#include <algorithm>
#include <cstring>

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
bool joins_run(const BuilderFile& file, SharedFile* shared,
               const std::vector<std::string>& patterns, bool recompress) {
    return file.has_record && file.record.stored_size > 0 &&
           file.record.data_offset % EPK2_ALIGNMENT == 0 &&
           archive_shared_file(file.source) == shared &&
           builder_copies_in_place(file, builder_should_compress(patterns, file.path), recompress);
}

uint64_t stored_end(const BuilderFile& file) {
    return uint64_t(file.record.data_offset) + file.record.stored_size;
}

// Reads bytes [from, to) of the source file; false when they are not all there.
bool read_source_bytes(SharedFile* shared, uint64_t from, uint64_t to,
                       std::vector<unsigned char>& bytes) {
    bytes.resize(static_cast<size_t>(to - from));
    return bytes.empty() ||
           platform_file_read_at(shared_file_handle(shared), uint32_t(from), bytes.data(),
                                 uint32_t(bytes.size())) == bytes.size();
}

bool all_zeros(const unsigned char* bytes, size_t count) {
    return std::all_of(bytes, bytes + count, [](unsigned char b) { return b == 0; });
}

} // namespace

uint32_t builder_copy_run_length(const std::vector<BuilderFile*>& files, uint32_t first,
                                 const std::vector<std::string>& patterns, bool recompress) {
    const BuilderFile& head = *files[first];
    SharedFile* shared = archive_shared_file(head.source);
    if (!shared || !joins_run(head, shared, patterns, recompress)) {
        return 0;
    }
    uint64_t file_size = shared_file_size(shared);
    uint32_t end = first;
    uint64_t next = head.record.data_offset;
    while (end < files.size() && end - first < RUN_MAX_FILES &&
           next - head.record.data_offset < RUN_MAX_BYTES &&
           joins_run(*files[end], shared, patterns, recompress) &&
           files[end]->record.data_offset == next &&
           epk2_align(uint32_t(stored_end(*files[end]))) <= file_size) {
        next = epk2_align(uint32_t(stored_end(*files[end])));
        ++end;
    }
    return end - first >= 2 ? end - first : 0;
}

bool builder_write_copy_run(Stream* output, const std::vector<BuilderFile*>& files, uint32_t first,
                            uint32_t count, uint32_t& offset, std::string& error) {
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
    stream_seek(output, static_cast<int32_t>(output_start), STREAM_SEEK_BEGIN);
    if (stream_copy_from_shared(output, shared, source_start, length) != length) {
        error = "cannot copy " + head.path + " and the " + std::to_string(count - 1) +
                " files after it into the archive (disk full?)";
        return false;
    }

    std::vector<unsigned char> bytes;
    for (uint32_t k = 0; k < count; ++k) {
        BuilderFile& file = *files[first + k];
        const ArchiveEntryInfo& record = file.record;
        file.key_number = static_cast<uint8_t>((first + k) % EPK2_KEY_COUNT + 1);
        file.data_offset = output_start + (record.data_offset - source_start);
        file.size = record.size;
        file.stored_size = record.stored_size;
        // The head under another key, and the padding after the entry.
        const uint32_t head_end =
            record.data_offset + std::min<uint32_t>(EPK2_SCRAMBLE_LIMIT, record.stored_size);
        const uint32_t padding_end = epk2_align(uint32_t(stored_end(file)));
        if (record.key != file.key_number) {
            if (!read_source_bytes(shared, record.data_offset, head_end, bytes)) {
                error = "cannot read " + file.path + " from its source archive";
                return false;
            }
            builder_scramble(bytes.data(), uint32_t(bytes.size()), 0, epk2_key(record.key));
            builder_scramble(bytes.data(), uint32_t(bytes.size()), 0, epk2_key(file.key_number));
            stream_seek(output, static_cast<int32_t>(file.data_offset), STREAM_SEEK_BEGIN);
            if (stream_write(output, bytes.data(), uint32_t(bytes.size())) != bytes.size()) {
                error = "cannot write the archive (disk full?)";
                return false;
            }
        }
        if (!read_source_bytes(shared, stored_end(file), padding_end, bytes)) {
            error = "cannot read " + file.path + " from its source archive";
            return false;
        }
        if (!all_zeros(bytes.data(), bytes.size())) {
            std::fill(bytes.begin(), bytes.end(), 0);
            stream_seek(output, static_cast<int32_t>(file.data_offset + file.stored_size),
                        STREAM_SEEK_BEGIN);
            if (stream_write(output, bytes.data(), uint32_t(bytes.size())) != bytes.size()) {
                error = "cannot write the archive (disk full?)";
                return false;
            }
        }
    }
    offset = output_start + length;
    stream_seek(output, static_cast<int32_t>(offset), STREAM_SEEK_BEGIN);
    return true;
}
