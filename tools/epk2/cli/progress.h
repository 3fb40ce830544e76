// A one-line progress bar on standard error: files and bytes done, rate and
// time left. Quiet unless standard error is a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "cli/console.h"

struct ArchiveBuilder;

class ProgressBar {
  public:
    ProgressBar(Console& console, std::string label, uint64_t files_total, uint64_t bytes_total);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void set_totals(uint64_t files_total, uint64_t bytes_total);
    // Called after each file; redraws at most ten times a second.
    void advance(uint64_t files_done, uint64_t bytes_done);
    // For work that counts items alone (an update's files, a patch's
    // steps): done of total, no byte figures.
    void count(uint64_t done, uint64_t total);
    // Draws the final state and ends the line.
    void finish();

  private:
    void draw(bool final_draw);

    Console& console_;
    std::string label_;
    bool enabled_;
    bool drawn_ = false;
    uint64_t files_total_, bytes_total_;
    uint64_t files_done_ = 0, bytes_done_ = 0;
    std::chrono::steady_clock::time_point start_, last_draw_;
};

// The archive builder's progress on a bar: files and their bytes, taken from
// the builder's own list of files. Hand on_file_written to pack_into with
// this adapter as its context.
class BuilderProgress {
  public:
    BuilderProgress(const ArchiveBuilder& builder, ProgressBar& bar)
        : builder_(builder), bar_(bar) {}
    static int on_file_written(void* context, uint32_t index, uint32_t total);

  private:
    const ArchiveBuilder& builder_;
    ProgressBar& bar_;
    uint64_t bytes_done_ = 0;
};
