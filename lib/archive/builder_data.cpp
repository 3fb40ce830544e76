// One file's stored bytes: deflated unless a packing rule exempts it,
// scrambled in its first 1024 bytes, or copied from a source archive that
// already holds them in the form this archive wants.
#include <algorithm>
#include <cstring>

#include "archive/archive_fs.h"
#include "archive/entry_read.h"
#include "archive/epk2_format.h"
#include "archive/epk2_scramble.h"
#include "builder_check.h"
#include "builder_internal.h"
#include "fs/filesystem.h"
#include "stream/file_handles.h"
#include "stream/stream.h"

namespace {

// A source archive's entry can be copied as stored when its stored form is
// what this archive would write: compressed stays compressed, stored stays
// stored.
bool copyable_entry(const BuilderFile& file, bool recompress, ArchiveEntryInfo& info) {
    if (recompress || !builder_source_record(file, info)) {
        return false;
    }
    // An empty file is never copied: a builder stores it as nothing, not as
    // the few bytes of an empty zlib stream.
    bool stored_compressed = info.stored_size != info.size;
    return info.size != 0 && stored_compressed == file.compress;
}

// A copied compressed entry is inflated once, only to check it; length gets
// the bytes its zlib stream takes (anything after it is not copied).
bool copy_is_intact(const std::vector<unsigned char>& stored, const ArchiveEntryInfo& info,
                    uint32_t& length) {
    length = info.stored_size;
    if (info.stored_size == info.size) {
        return true; // stored content has no checksum
    }
    if (info.stored_size == 0) {
        return false; // content claimed, but no zlib data to give it
    }
    uint32_t head = std::min<uint32_t>(EPK2_SCRAMBLE_LIMIT, info.stored_size);
    unsigned char plain[EPK2_SCRAMBLE_LIMIT];
    std::memcpy(plain, stored.data(), head);
    builder_scramble(plain, head, 0, epk2_key(info.key));
    DeflateChecker checker(info.size);
    checker.feed(plain, head);
    checker.feed(stored.data() + head, info.stored_size - head);
    length = static_cast<uint32_t>(checker.consumed());
    return checker.intact() || checker.cut();
}

// Reads the whole content into buffer; false with error when the source
// does not deliver exactly size bytes or an archive entry's data are damaged.
bool read_source(const BuilderFile& file, Stream* source, unsigned char* buffer, uint32_t size,
                 std::string& error) {
    ArchiveEntryInfo info;
    bool compressed = builder_source_record(file, info) && info.stored_size != info.size;
    uint32_t filled = 0;
    unsigned char chunk[64 * 1024];
    EntryReadResult result = entry_read_stream(
        source, size, compressed,
        [&](const unsigned char* data, uint32_t n) {
            std::memcpy(buffer + filled, data, n);
            filled += n;
            return true;
        },
        chunk, sizeof chunk);
    if (!result.whole()) {
        error =
            std::string("cannot read ") + file.path + " from its source (" + result.problem + ")";
        return false;
    }
    return true;
}

// Deflates content into out through the entry stream, into a window of
// twice its size. Returns false when the deflated form does not fit.
bool deflate_into(const unsigned char* content, uint32_t size, std::vector<unsigned char>& out) {
    uint64_t window = uint64_t(size) * 2;
    out.resize(static_cast<size_t>(window));
    Stream* memory = stream_open_memory(out.data(), static_cast<uint32_t>(window),
                                        STREAM_OPEN_WRITE, STREAM_BORROWS, nullptr);
    if (!memory) {
        return false;
    }
    StreamPtr memory_guard(memory);
    Stream* range = stream_open_range(memory, STREAM_BORROWS, 0, static_cast<uint32_t>(window),
                                      STREAM_OPEN_WRITE, nullptr);
    Stream* chain = range ? stream_open_entry(range, 0, ENTRY_MODE_DEFLATE, nullptr) : nullptr;
    if (!chain) {
        if (range) {
            stream_close(range);
        }
        return false;
    }
    uint32_t written = stream_write(chain, content, size);
    stream_flush(chain);
    bool fits = written == size && !entry_stream_failed(chain);
    stream_close(chain);
    out.resize(stream_tell(memory));
    return fits;
}

} // namespace

bool builder_copies_in_place(const BuilderFile& file, bool recompress) {
    ArchiveEntryInfo info;
    return copyable_entry(file, recompress, info) && archive_shared_file(file.source) &&
           !(file.check_copy && info.stored_size != info.size);
}

bool builder_source_record(const BuilderFile& file, ArchiveEntryInfo& info) {
    if (file.has_record) {
        info = file.record;
        return true;
    }
    return archive_is_archive(file.source) && archive_entry_info(file.source, file.path, &info);
}

Stream* builder_open_content(const BuilderFile& file) {
    if (file.has_record) {
        return archive_open_entry_at(file.source, &file.record, nullptr);
    }
    return fs_open(file.source, file.path, 0, 0, STREAM_OPEN_READ, nullptr);
}

Stream* builder_open_stored(const BuilderFile& file) {
    if (file.has_record) {
        return archive_open_stored_at(file.source, &file.record, nullptr);
    }
    return archive_open_stored(file.source, file.path, nullptr);
}

void builder_scramble(unsigned char* data, uint32_t count, uint32_t position,
                      const unsigned char* key) {
    if (key) {
        epk2_xor_scrambled(data, count, position, key);
    }
}

void builder_rekey(unsigned char* data, uint32_t count, uint32_t position, uint8_t old_key,
                   uint8_t new_key) {
    if (old_key == new_key || position >= EPK2_SCRAMBLE_LIMIT) {
        return;
    }
    static const unsigned char no_key[EPK2_KEY_LENGTH] = {};
    const unsigned char* from = epk2_key(old_key) ? epk2_key(old_key) : no_key;
    const unsigned char* to = epk2_key(new_key) ? epk2_key(new_key) : no_key;
    unsigned char mask[EPK2_KEY_LENGTH];
    for (uint32_t i = 0; i < EPK2_KEY_LENGTH; ++i) {
        mask[i] = from[i] ^ to[i];
    }
    epk2_xor_scrambled(data, count, position, mask);
}

bool builder_prepare(const BuilderFile& file, uint8_t key_number, bool recompress,
                     PreparedFile& prepared, uint32_t memory_limit) {
    ArchiveEntryInfo info;
    if (copyable_entry(file, recompress, info)) {
        prepared.size = info.size;
        // A copy that needs no check passes only its scrambled head through
        // memory when the source archive is a file: the writer copies the
        // rest from file to file.
        SharedFile* shared = archive_shared_file(file.source);
        const bool checked = file.check_copy && info.stored_size != info.size;
        uint32_t head = info.stored_size;
        if (shared && !checked) {
            head = std::min<uint32_t>(EPK2_SCRAMBLE_LIMIT, info.stored_size);
        } else if (info.stored_size > memory_limit) {
            return false;
        }
        StreamPtr raw(builder_open_stored(file));
        if (!raw) {
            prepared.error = std::string("cannot open ") + file.path + " in its source archive";
            return false;
        }
        prepared.bytes.resize(head);
        uint32_t total = 0;
        while (total < head) {
            uint32_t n = stream_read(raw.get(), prepared.bytes.data() + total, head - total);
            if (n == 0) {
                break;
            }
            total += n;
        }
        if (total != head) {
            prepared.error = std::string("cannot read ") + file.path + " from its source archive";
            return false;
        }
        uint32_t length = info.stored_size;
        if (checked && !copy_is_intact(prepared.bytes, info, length)) {
            prepared.error = std::string(file.path) + " is damaged in its source archive";
            return false;
        }
        prepared.bytes.resize(std::min<size_t>(prepared.bytes.size(), length));
        total = static_cast<uint32_t>(prepared.bytes.size());
        builder_rekey(prepared.bytes.data(), total, 0, info.key, key_number);
        if (head < info.stored_size) {
            prepared.tail_source = shared;
            prepared.tail_offset = info.data_offset + head;
            prepared.tail_length = info.stored_size - head;
        }
        prepared.in_memory = true;
        return true;
    }

    StreamPtr source(builder_open_content(file));
    if (!source) {
        prepared.error = std::string("cannot open ") + file.path + " in its source";
        return false;
    }
    uint32_t size = stream_size(source.get());
    prepared.size = size;
    if (size > memory_limit) {
        return false;
    }
    std::vector<unsigned char> content(size);
    if (!read_source(file, source.get(), content.data(), size, prepared.error)) {
        return false;
    }
    // A deflated form that does not fit twice the size, or that is exactly as
    // long as the content (it would read back as stored), is not used.
    if (file.compress && size > 0 && deflate_into(content.data(), size, prepared.bytes) &&
        prepared.bytes.size() != size) {
        // deflated form kept
    } else {
        prepared.bytes = std::move(content);
    }
    builder_scramble(prepared.bytes.data(), static_cast<uint32_t>(prepared.bytes.size()), 0,
                     epk2_key(key_number));
    prepared.in_memory = true;
    return true;
}
