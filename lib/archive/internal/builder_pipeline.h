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

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// Files up to this size are prepared by the workers; larger ones stream.
constexpr uint32_t PIPELINE_MEMORY_LIMIT = 4u << 20;
// Content bytes taken by workers but not yet written, at most.
constexpr uint64_t PIPELINE_BYTES_IN_FLIGHT = 16u << 20;
// Files prepared ahead of the writer, at most.
constexpr uint32_t PIPELINE_FILES_AHEAD = 64;
