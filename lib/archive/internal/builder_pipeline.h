// Prepares files ahead of the writer on worker threads: each file's stored
// bytes are made exactly as the writer would make them, so the archive is
// byte-identical to one packed on a single thread, while the writer keeps
// file order and the data in flight stay bounded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "builder_internal.h"

class PreparePipeline {
  public:
    PreparePipeline(const std::vector<BuilderFile*>& files, bool recompress, unsigned workers);
    ~PreparePipeline();
    PreparePipeline(const PreparePipeline&) = delete;
    PreparePipeline& operator=(const PreparePipeline&) = delete;

    // Waits for file index (taken in increasing order) and hands over its
    // preparation; a result that is not in memory and has no error means the
    // writer streams that file itself.
    PreparedFile take(uint32_t index);

    // How a file that a worker deflated ended: its content size, whether
    // the deflated form outgrew twice that size, and the error that stopped
    // it (empty: none).
    struct StreamedEnd {
        uint32_t size = 0;
        bool window_full = false;
        std::string error;
    };
    // For a file that take() handed over as streamed: waits for its next
    // chunk of stored bytes (scrambled) and moves it into chunk; false once
    // the worker is done, with end set.
    bool take_chunk(uint32_t index, std::vector<unsigned char>& chunk, StreamedEnd& end);
    // The writer wants no more of that file's chunks: its worker stops at
    // its next chunk and its queued chunks are freed.
    void abandon(uint32_t index);

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// Files up to this size are prepared by the workers; larger ones stream.
constexpr uint32_t PIPELINE_MEMORY_LIMIT = 4u << 20;
// Content bytes taken by workers but not yet written, at most.
constexpr uint64_t PIPELINE_BYTES_IN_FLIGHT = 16u << 20;
// A large file's deflated bytes go to the writer in chunks of this size.
constexpr uint32_t PIPELINE_CHUNK = 256u << 10;
// Chunks waiting for the writer, all files together, at most (about): a
// worker stops at this. Only the file the writer is copying out may add up
// to PIPELINE_QUEUE_ROOM more, so that it never waits for the others.
constexpr uint64_t PIPELINE_QUEUED_BYTES = 12u << 20;
constexpr uint64_t PIPELINE_QUEUE_ROOM = 2u << 20;
// Files prepared ahead of the writer, at most.
constexpr uint32_t PIPELINE_FILES_AHEAD = 1024;
