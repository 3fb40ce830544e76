// Files too large to prepare in memory go straight into the output through
// the chain deflate -> scramble -> window of the output.
#include <algorithm>

#include "archive/archive_fs.h"
#include "archive/entry_read.h"
#include "archive/epk2_format.h"
#include "builder_check.h"
#include "builder_internal.h"
#include "fs/filesystem.h"
#include "stream/file_handles.h"
#include "stream/stream.h"
#include "support/threads.h"

namespace {

// Inflates a copied entry's stored bytes on a thread of its own while the
// writer copies them, so the check costs the writer no time.
struct CopyCheck {
    const BuilderFile* file;
    ArchiveEntryInfo info;
    bool intact = false;
    uint32_t length = 0; // of the zlib stream, once checked

    void run() {
        Stream* raw = builder_open_stored(*file);
        if (!raw) {
            return;
        }
        DeflateChecker checker(info.size);
        std::vector<unsigned char> chunk(256 * 1024);
        uint32_t position = 0;
        while (position < info.stored_size) {
            uint32_t n = stream_read(raw, chunk.data(), static_cast<uint32_t>(chunk.size()));
            if (n == 0) {
                break;
            }
            if (position < EPK2_SCRAMBLE_LIMIT) {
                builder_scramble(chunk.data(), n, position, epk2_key(info.key));
            }
            checker.feed(chunk.data(), n);
            position += n;
        }
        stream_close(raw);
        intact = position == info.stored_size && (checker.intact() || checker.cut());
        length = static_cast<uint32_t>(checker.consumed());
    }
    static void entry(void* self) { static_cast<CopyCheck*>(self)->run(); }
};

// Copies the stored bytes; stored_length gets what the entry takes in the
// output: a checked zlib stream without any bytes after its end.
bool copy_stored(Stream* output, const BuilderFile& file, const ArchiveEntryInfo& info,
                 uint8_t key_number, std::vector<unsigned char>& buffer, uint32_t& stored_length,
                 std::string& error) {
    stored_length = info.stored_size;
    StreamPtr raw(builder_open_stored(file));
    if (!raw) {
        error = std::string("cannot open ") + file.path + " in its source archive";
        return false;
    }
    CopyCheck check{&file, info};
    Thread checker{};
    const bool checked = info.stored_size != info.size && file.check_copy;
    if (checked) {
        thread_start(&checker, nullptr, CopyCheck::entry, &check, 0);
        if (!checker.handle) {
            check.run(); // no thread to be had: check before copying
        }
    }
    // Past the scrambled head the bytes go unchanged: from file to file
    // where the source archive is a file.
    SharedFile* shared = archive_shared_file(file.source);
    const uint32_t head =
        shared ? std::min<uint32_t>(EPK2_SCRAMBLE_LIMIT, info.stored_size) : info.stored_size;
    bool copied = true;
    uint32_t position = 0;
    while (position < head) {
        uint32_t want = std::min<uint32_t>(static_cast<uint32_t>(buffer.size()), head - position);
        uint32_t n = stream_read(raw.get(), buffer.data(), want);
        if (n == 0) {
            error = std::string("cannot read ") + file.path + " from its source archive";
            copied = false;
            break;
        }
        builder_rekey(buffer.data(), n, position, info.key, key_number);
        if (stream_write(output, buffer.data(), n) != n) {
            error = "cannot write the archive";
            copied = false;
            break;
        }
        position += n;
    }
    if (copied && position < info.stored_size) {
        uint32_t tail = info.stored_size - position;
        if (stream_copy_from_shared(output, shared, info.data_offset + position, tail) != tail) {
            error = std::string("cannot copy ") + file.path + " into the archive (disk full?)";
            copied = false;
        }
    }
    if (checker.handle) {
        thread_join(&checker);
    }
    if (copied && checked && !check.intact) {
        error = std::string(file.path) + " is damaged in its source archive";
        return false;
    }
    if (copied && checked && check.length < info.stored_size) {
        // Bytes after the zlib stream were copied before the check knew of
        // them: they become zeros, which the padding and the next entry
        // write over.
        stored_length = check.length;
        std::vector<unsigned char> zeros(info.stored_size - check.length, 0);
        stream_seek(output, static_cast<int32_t>(stream_tell(output) - zeros.size()),
                    STREAM_SEEK_BEGIN);
        copied = stream_write(output, zeros.data(), uint32_t(zeros.size())) == zeros.size();
        if (!copied) {
            error = "cannot write the archive";
        }
    }
    return copied;
}

// Opens the chain window -> scramble [-> deflate] over a window (taken
// over: closed with the chain, or at once when the chain cannot be made).
Stream* open_chain(Stream* window, uint8_t key_number, bool compress) {
    if (!window) {
        return nullptr;
    }
    Stream* chain = stream_open_scramble(window, epk2_key(key_number), EPK2_KEY_LENGTH,
                                         EPK2_SCRAMBLE_LIMIT, nullptr);
    if (!chain) {
        stream_close(window);
        return nullptr;
    }
    if (compress) {
        Stream* deflating = stream_open_entry(chain, 0, ENTRY_MODE_DEFLATE, nullptr);
        if (!deflating) {
            stream_close(chain);
            return nullptr;
        }
        chain = deflating;
    }
    return chain;
}

// A window of the output from data_offset on.
Stream* output_window(Stream* output, uint32_t data_offset, uint32_t window) {
    return stream_open_range(output, STREAM_BORROWS, data_offset, window, STREAM_OPEN_WRITE,
                             nullptr);
}

// Copies the source's content through a chain; false with error on a short
// read, damaged source data or a refused write.
bool pump(const BuilderFile& file, uint32_t size, Stream* chain, bool compress,
          std::vector<unsigned char>& buffer, bool& window_full, std::string& error) {
    StreamPtr source(builder_open_content(file));
    if (!source) {
        error = std::string("cannot open ") + file.path + " in its source";
        return false;
    }
    ArchiveEntryInfo info;
    bool compressed = builder_source_record(file, info) && info.stored_size != info.size;
    window_full = false;
    EntryReadResult result = entry_read_stream(
        source.get(), size, compressed,
        [&](const unsigned char* data, uint32_t n) { return stream_write(chain, data, n) == n; },
        buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (result.sink_failed) {
        if (compress) {
            window_full = true; // the deflated form outgrew its window
            return true;
        }
        error = "cannot write the archive";
        return false;
    }
    if (!result.whole()) {
        error =
            std::string("cannot read ") + file.path + " from its source (" + result.problem + ")";
        return false;
    }
    return true;
}

} // namespace

bool builder_streams_deflated(const BuilderFile& file, bool recompress) {
    ArchiveEntryInfo info;
    return file.compress && (recompress || !builder_source_record(file, info) ||
                             (info.stored_size != info.size) != file.compress);
}

bool builder_content_size(const BuilderFile& file, uint32_t& size, std::string& error) {
    ArchiveEntryInfo info;
    if (builder_source_record(file, info)) {
        size = info.size;
        return true;
    }
    StreamPtr probe(builder_open_content(file));
    if (!probe) {
        error = std::string("cannot open ") + file.path + " in its source";
        return false;
    }
    size = stream_size(probe.get());
    return true;
}

bool builder_deflate_file(Stream* window, const BuilderFile& file, uint32_t size,
                          uint8_t key_number, std::vector<unsigned char>& buffer, bool& window_full,
                          std::string& error) {
    Stream* chain = open_chain(window, key_number, true);
    if (!chain) {
        error = "out of memory";
        return false;
    }
    window_full = false;
    bool ok = pump(file, size, chain, true, buffer, window_full, error);
    stream_flush(chain);
    window_full = window_full || entry_stream_failed(chain);
    stream_close(chain);
    return ok;
}

bool builder_stream_file(Stream* output, BuilderFile& file, bool recompress,
                         std::vector<unsigned char>& buffer, std::string& error) {
    const uint32_t data_offset = file.data_offset;
    const uint8_t key_number = file.key_number;
    uint32_t& size = file.size;
    uint32_t& stored_size = file.stored_size;
    const bool compress = file.compress;
    ArchiveEntryInfo info;
    if (!recompress && builder_source_record(file, info) &&
        (info.stored_size != info.size) == compress) {
        if (data_offset + uint64_t(info.stored_size) > BUILDER_MAX_ARCHIVE) {
            error = "the archive would reach 2 GiB";
            return false;
        }
        if (!copy_stored(output, file, info, key_number, buffer, stored_size, error)) {
            return false;
        }
        size = info.size;
        return true;
    }

    if (!builder_content_size(file, size, error)) {
        return false;
    }
    // A deflated form may be far smaller than the content: its window is
    // clamped to the limit and the writer checks the real end. Only content
    // stored as it is must fit as a whole.
    if (!compress && data_offset + uint64_t(size) > BUILDER_MAX_ARCHIVE) {
        error = "the archive would reach 2 GiB";
        return false;
    }
    uint32_t window = static_cast<uint32_t>(
        std::min<uint64_t>(uint64_t(size) * 2, BUILDER_MAX_ARCHIVE - data_offset));

    if (compress) {
        bool window_full = false;
        if (!builder_deflate_file(output_window(output, data_offset, window), file, size,
                                  key_number, buffer, window_full, error)) {
            return false;
        }
        stored_size = stream_size(output) - data_offset;
        if (!window_full && stored_size != size) {
            return true;
        }
        // The deflated form is of no use; store the content instead.
        if (data_offset + uint64_t(size) > BUILDER_MAX_ARCHIVE) {
            error = "the archive would reach 2 GiB";
            return false;
        }
        stream_seek(output, static_cast<int32_t>(data_offset), STREAM_SEEK_BEGIN);
    }
    Stream* chain = open_chain(output_window(output, data_offset, size), key_number, false);
    if (!chain) {
        error = "out of memory";
        return false;
    }
    bool unused = false;
    bool ok = pump(file, size, chain, false, buffer, unused, error);
    stream_close(chain);
    stored_size = size;
    return ok;
}
