// Shared between the files of the archive builder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_builder.h"
#include "builder_tree.h"
#include "stream/stream_ptr.h"

struct Stream;

// Files up to this size are prepared in memory (read, deflated, scrambled)
// and written in one piece; larger ones stream straight into the output.
constexpr uint32_t BUILDER_MEMORY_LIMIT = 1u << 20;
// Copy buffer of the streaming path.
constexpr uint32_t BUILDER_COPY_BUFFER = 1u << 20;
// Largest offset an archive may reach: positions are 32-bit and files of
// 2 GiB or more cannot be opened again.
constexpr uint64_t BUILDER_MAX_ARCHIVE = 0x7FFFFFFFu;

// The source archive's record of file: the one kept from the enumeration,
// else looked up by path. False when the source is not an archive or does
// not hold the file.
bool builder_source_record(const BuilderFile& file, ArchiveEntryInfo& info);
// The file's content as its source serves it (inflated and descrambled for
// an archive entry); null when it cannot be opened.
Stream* builder_open_content(const BuilderFile& file);
// A source archive entry's stored bytes as they lie; null when unavailable.
Stream* builder_open_stored(const BuilderFile& file);

// The stored form of one file, prepared away from the output.
struct PreparedFile {
    bool in_memory = false; // bytes holds the stored bytes, scrambled
    std::vector<unsigned char> bytes;
    uint32_t size = 0; // content size
    std::string error; // non-empty: the file could not be prepared
    // When tail_length is not 0, bytes holds only the stored bytes' head
    // (the scrambled part) and the rest, unchanged, is copied straight from
    // the source archive's file at tail_offset.
    SharedFile* tail_source = nullptr;
    uint32_t tail_offset = 0;
    uint32_t tail_length = 0;
    // A worker deflates the file into a bounded queue of chunks that the
    // writer drains (see PreparePipeline::take_chunk).
    bool streamed = false;
};

// True when builder_prepare would only read the file's scrambled head and
// leave the rest to be copied from file to file: so little work that the
// writer does it itself.
bool builder_copies_in_place(const BuilderFile& file, bool recompress);

// How many files from first on are copies in place that lie back to back in
// one source archive file, so that one copy moves them all; 0 when fewer
// than two.
uint32_t builder_copy_run_length(const std::vector<BuilderFile*>& files, uint32_t first,
                                 bool recompress);
// Writes such a run at offset (aligned; the output is positioned there) and
// sets each file's key, offset and sizes; offset moves past the run.
// buffer (not empty) carries the bytes that pass through memory.
bool builder_write_copy_run(Stream* output, const std::vector<BuilderFile*>& files, uint32_t first,
                            uint32_t count, uint32_t& offset, std::vector<unsigned char>& buffer,
                            std::string& error);

// These deflate the file or not as its compress flag says.
// Prepares a file of at most memory_limit bytes (or a raw copy of a
// source archive's stored bytes of any size that fits memory limits) in
// memory. Returns false when the file is to be streamed instead (prepared
// then holds only its size), or with prepared.error set on failure.
bool builder_prepare(const BuilderFile& file, uint8_t key_number, bool recompress,
                     PreparedFile& prepared, uint32_t memory_limit = BUILDER_MEMORY_LIMIT);

// Streams a file into output at its data_offset (the output positioned
// there) with its key_number, and sets its size and stored_size; false with
// error on failure.
bool builder_stream_file(Stream* output, BuilderFile& file, bool recompress,
                         std::vector<unsigned char>& buffer, std::string& error);

// True when builder_stream_file would deflate the file's content (rather
// than copy a source archive's stored bytes or store the content as it is).
bool builder_streams_deflated(const BuilderFile& file, bool recompress);
// The content's size as builder_stream_file takes it; false with error when
// the file cannot be opened.
bool builder_content_size(const BuilderFile& file, uint32_t& size, std::string& error);
// Deflates size bytes of the file's content, scrambled with key_number,
// into window (taken over and closed). window_full: the deflated form
// outgrew the window. False with error when the content cannot be read.
// buffer (not empty) carries the content in pieces of its size, which the
// writer and the workers keep the same so the zlib stream is too.
bool builder_deflate_file(Stream* window, const BuilderFile& file, uint32_t size,
                          uint8_t key_number, std::vector<unsigned char>& buffer, bool& window_full,
                          std::string& error);

// XORs bytes at stream positions [position, position + count) below the
// scrambling limit with the key (null key: nothing).
void builder_scramble(unsigned char* data, uint32_t count, uint32_t position,
                      const unsigned char* key);
// Moves the scrambling of such bytes from one key number to another (0: not
// scrambled) in one pass.
void builder_rekey(unsigned char* data, uint32_t count, uint32_t position, uint8_t old_key,
                   uint8_t new_key);
